#pragma once

#include <memory>
#include <string>
#include <system_error>

namespace talvern {

/// Decides which web origins may call the agent on behalf of the user. The authorised origins are a JSON
/// array of origin texts in "<shared data directory>/var/conf/authorizedUrls.json":
///
///     ["https://portal.example.com", "http://127.0.0.1:8080"]
///
/// An entry without a port takes 80 for http and 443 for https; comparison ignores case. The file is
/// read again when its modification time or size changes. A missing, unreadable or malformed file
/// authorises nothing (and says so in the log once per change of the file). Safe to call from any thread.
class HttpSecure {
public:
    /// Reads the file of the shared data directory.
    HttpSecure();
    /// Reads the given file instead.
    explicit HttpSecure(std::string filePath);
    virtual ~HttpSecure();
    HttpSecure(const HttpSecure&) = delete;
    HttpSecure& operator=(const HttpSecure&) = delete;

    /// True when the origin of `url` is authorised. `reloadIfChanged` looks at the file before answering
    /// (false answers from what was read last). `error` is set only when the check itself could not run;
    /// the result is then false.
    virtual bool isAuthorizdUrl(const std::string& url, std::error_code& error, bool reloadIfChanged);

    /// The file the origins are read from (empty when the shared data directory is unknown).
    const std::string& filePath() const;

    /// "<shared data directory>/var/conf/authorizedUrls.json", or empty (logged) when the shared data
    /// directory cannot be worked out.
    static std::string defaultFilePath();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// The category of the errors `HttpSecure::isAuthorizdUrl` reports (1: the check could not run).
const std::error_category& http_secure_category();

}  // namespace talvern
