#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

namespace talvern {

class IRequest;
class IResponse;

/// Picks the handler of a request by method and URL, in three passes: routes of the request's method
/// whose expression matches the whole URL, then method-independent routes that match, then the first
/// last-resort route. Nothing found: 503 "Service Unavailable".
class HttpRouter {
public:
    using Handler = std::function<void(IRequest*, IResponse*)>;

    enum Method : int { Get = 1, Head = 2, Post = 3, Put = 4, AnyMethod = 5, LastResort = 6 };

    /// Adds a route; `url` is a regular expression matched case-insensitively against the whole
    /// lower-cased URL. False when the expression does not compile or the method code is unknown.
    bool addRoute(const std::string& url, int method, Handler handler, std::string schema = {});
    /// Hands the request to its route; false (after the 503 answer) when none fits.
    bool route(IRequest* request, IResponse* response);

    /// "get" 1, "head" 2, "post" 3, "put" 4 (any case); 0 for other methods.
    static int methodCode(const std::string& method);

private:
    struct Route {
        std::string url;
        std::regex expression;
        std::string literal;  // the lower-cased url when it holds no pattern character, else empty
        bool matches(const std::string& lowerUrl) const;
        int method;
        Handler handler;
        std::string schema;
    };
    Handler find(int method, const std::string& url) const;

    mutable std::mutex m_mutex;  // routes are added under it and looked up under it
    std::vector<Route> m_routes;
};

}  // namespace talvern
