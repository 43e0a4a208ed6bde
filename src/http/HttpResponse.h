#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern {

namespace engine {
class mg_connection;
class mg_mgr;
}  // namespace engine

class HttpServerManager;

/// The answer to one request. Always created with `new`: it owns itself (the self handle) until its
/// next-handler chain ends; the default next handler destroys the request and then the response.
class HttpResponse : public IResponse {
public:
    using NextHandler = std::function<bool(std::shared_ptr<HttpResponse>, bool)>;

    HttpResponse(IRequest* request, engine::mg_connection* connection, unsigned requestNumber,
                 const std::shared_ptr<HttpServerManager>& manager);
    ~HttpResponse() override = default;

    void setStatus(int code) override;
    void setHeader(const char* name, const char* value) override;
    /// Writes head and body as one chunked reply, from any thread (off the loop thread it is posted and
    /// dropped if the connection has gone); with `finish` then calls `next(false)`.
    void send(const char* body, bool finish) override;
    void next(bool flag) override;
    void startTiming() override;

    /// Replaces the next handler; a handler that returns false ends the response: its request is destroyed
    /// and its self handle released.
    void setHandler(const NextHandler& handler);

    int status() const { return m_status; }
    const std::map<std::string, std::string>& headers() const { return m_headers; }
    IRequest* request() const { return m_request; }

    /// "HTTP/1.1 <code> <phrase>\r\n", the headers in name order, and the empty line.
    std::string head() const;

private:
    IRequest* m_request;
    engine::mg_connection* m_connection;
    engine::mg_mgr* m_mgr;
    std::string m_text;
    int m_status = 200;
    std::map<std::string, std::string> m_headers;
    std::shared_ptr<HttpResponse> m_self;
    NextHandler m_nextHandler;
    std::weak_ptr<HttpServerManager> m_serverManager;
    std::uint32_t m_requestNumber;
    bool m_headRequest;  // the reply is the head alone, as a GET's would begin
    std::uint64_t m_startTick = 0;
    bool m_timed = false;
    std::chrono::system_clock::time_point m_startTime;
};

}  // namespace talvern
