#pragma once

#include <string>

namespace talvern {

/// Travels with every request through the preprocessor and filter chains; normalises Referer values.
/// (The URL-origin operations join this class together with the URL parser.)
class HttpServerContext {
public:
    virtual ~HttpServerContext() = default;

    /// "HTTPS://Host:8443/path" -> "HTTPS://Host:8443" (case kept); empty when it is not a URL of
    /// the http, https, ftp or file schemes.
    virtual std::string normaliseReferer(const std::string& referer);

    /// The normalisation itself, shared with the servers.
    static std::string normaliseRefererText(const std::string& referer);
};

}  // namespace talvern
