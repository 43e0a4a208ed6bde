#include "http/HttpServerContext.h"

#include <algorithm>
#include <cctype>
#include <regex>

#include <stdexcept>

#include "support/TextCase.h"
#include "support/Url.h"

namespace talvern {

std::string HttpServerContext::originOf(const std::string& url) { return originOf(url, 0, 0); }

std::string HttpServerContext::originOf(const std::string& url, int, int) {
    net::Url parsed(url);
    std::string host = parsed.host();
    if (parsed.hostKind() == net::Url::kIpv6 && (host.empty() || host.front() != '[')) {
        host = "[" + host + "]";
    }
    const std::string scheme = utilities::lowerCase(parsed.scheme());
    std::string port = parsed.port();
    if (port.empty()) {
        if (scheme == "http") {
            port = "80";
        } else if (scheme == "https") {
            port = "443";
        } else {
            throw std::runtime_error("Unsupported scheme:" + parsed.scheme() + " with empty port");
        }
    }
    return utilities::lowerCase(parsed.scheme() + "://" + host + ":" + port);
}

std::string HttpServerContext::normaliseReferer(const std::string& referer) {
    return normaliseRefererText(referer);
}

std::string HttpServerContext::normaliseRefererText(const std::string& referer) {
    if (referer.empty()) {
        return {};
    }
    // Schemes and hosts are case-insensitive: "HTTPS://HOST/x" is a Referer like any other.
    static const std::regex expression("^(https?|ftp|file):?//([^/]+?/|[^/]+)", std::regex::icase);
    std::smatch match;
    if (!std::regex_search(referer, match, expression)) {
        return {};
    }
    std::string result = match[1].str() + "://" + match[2].str();
    if (!result.empty() && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

}  // namespace talvern
