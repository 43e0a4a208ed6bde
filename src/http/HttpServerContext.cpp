#include "http/HttpServerContext.h"

#include <regex>

namespace talvern {

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
