#include "http/HttpRouter.h"

#include <algorithm>
#include <cctype>

#include "log/Log.h"
#include "support/TextCase.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern {

int HttpRouter::methodCode(const std::string& method) {
    const std::string lower = utilities::lowerCase(method);
    if (lower == "get") {
        return Get;
    }
    if (lower == "head") {
        return Head;
    }
    if (lower == "post") {
        return Post;
    }
    if (lower == "put") {
        return Put;
    }
    return 0;
}

bool HttpRouter::addRoute(const std::string& url, int method, Handler handler, std::string schema) {
    if (method < Get || method > LastResort || !handler) {
        OKV_LOG_TAG_ERROR("HttpServer", "{}; Reason: url:{} method:{}", "add route failed", url, method);
        return false;
    }
    Route route;
    try {
        route.expression = std::regex(url, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::regex_error& e) {
        OKV_LOG_TAG_ERROR("HttpServer", "{}; Reason: url:{} {}", "add route failed", url, e.what());
        return false;
    }
    route.url = url;
    // Most routes are plain paths: they are compared as text, which is what their expression would do.
    if (url.find_first_of("\\^$.|?*+()[]{}") == std::string::npos) {
        route.literal = utilities::lowerCase(url);
    }
    route.method = method;
    route.handler = std::move(handler);
    route.schema = std::move(schema);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes.push_back(std::move(route));
    return true;
}

HttpRouter::Handler HttpRouter::find(int method, const std::string& url) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& route : m_routes) {
        if (method != 0 && route.method == method && route.matches(url)) {
            return route.handler;
        }
    }
    for (const auto& route : m_routes) {
        if (route.method == AnyMethod && route.matches(url)) {
            return route.handler;
        }
    }
    for (const auto& route : m_routes) {
        if (route.method == LastResort) {
            return route.handler;
        }
    }
    return nullptr;
}

bool HttpRouter::Route::matches(const std::string& lowerUrl) const {
    return literal.empty() ? std::regex_match(lowerUrl, expression) : literal == lowerUrl;
}

bool HttpRouter::route(IRequest* request, IResponse* response) {
    if (request == nullptr || response == nullptr) {
        return false;
    }
    const auto handler = find(methodCode(request->method()), utilities::lowerCase(request->url()));
    if (!handler) {
        response->setStatus(503);
        response->send("Service Unavailable", true);
        return false;
    }
    handler(request, response);  // called outside the lock: handlers may add routes
    return true;
}

}  // namespace talvern
