#pragma once

#include <string>

namespace talvern {

/// Travels with every request through the preprocessor and filter chains; normalises Referer values and
/// works out the origin of a URL.
class HttpServerContext {
public:
    virtual ~HttpServerContext() = default;

    /// "scheme://host:port" in lower case; a URL without a port takes 80 for http and 443 for https, and an
    /// IPv6 host is bracketed. Throws what the URL parser throws, or std::runtime_error
    /// ("Unsupported scheme:<scheme> with empty port") for another scheme without a port.
    virtual std::string originOf(const std::string& url);
    virtual std::string originOf(const std::string& url, int, int);

    /// "HTTPS://Host:8443/path" -> "HTTPS://Host:8443" (case kept); empty when it is not a URL of
    /// the http, https, ftp or file schemes.
    virtual std::string normaliseReferer(const std::string& referer);

    /// The normalisation itself, shared with the servers.
    static std::string normaliseRefererText(const std::string& referer);
};

}  // namespace talvern
