#include "http/HttpResponse.h"

#include <string_view>

#include "http/HttpLogPolicy.h"
#include "http/HttpServerManager.h"
#include "http/HttpStatus.h"
#include "http/engine/Engine.h"
#include "log/Check.h"
#include "support/Clock.h"

namespace talvern {

namespace {

/// Head, the body as one chunk (none for an empty body) and the terminating chunk; a bodiless reply is
/// its head alone.
void writeReply(engine::mg_connection* c, const std::string& head, std::string_view body, bool bodiless) {
    c->send(head);
    if (bodiless) {
        c->endHttpReply();
        return;
    }
    if (!body.empty()) {
        c->sendHttpChunk(body.data(), body.size());
    }
    c->sendHttpChunk("", 0);
}

/// Replies that never carry a body: informational ones, 204 and 304.
bool bodilessStatus(int status) { return (status >= 100 && status < 200) || status == 204 || status == 304; }

}  // namespace

HttpResponse::HttpResponse(IRequest* request, engine::mg_connection* connection, unsigned requestNumber,
                           const std::shared_ptr<HttpServerManager>& manager)
    : m_request(request),
      m_connection(connection),
      m_mgr(manager ? manager->engine() : nullptr),
      m_self(this),
      m_serverManager(manager),
      m_requestNumber(requestNumber),
      m_headRequest(request != nullptr && std::string_view(request->method()) == "HEAD") {
    m_headers[http::headerName(http::HeaderName::ContentType)] = "application/json";
    m_headers[http::headerName(http::HeaderName::TransferEncoding)] = "chunked";
    m_nextHandler = [](std::shared_ptr<HttpResponse> response, bool) {
        delete response->m_request;
        response->m_request = nullptr;
        response->m_self.reset();
        return true;
    };
}

void HttpResponse::setStatus(int code) {
    if (code != 0) {
        m_status = code;
    }
}

void HttpResponse::setHeader(const char* header, const char* value) {
    OKV_ENSURE_OR_RETURN(header != nullptr, "header can not be null");
    OKV_ENSURE_OR_RETURN(value != nullptr, "value can not be null");
    m_headers[header] = value;
}

std::string HttpResponse::head() const {
    std::string text;
    text.reserve(256);
    text.append("HTTP/1.1 ").append(std::to_string(m_status)).append(" ");
    text.append(http::reasonPhrase(m_status)).append("\r\n");
    // Informational and 204 replies must not announce a transfer coding; 304 announces what GET would.
    const bool noCoding = m_status < 200 || m_status == 204;
    const std::string& codingName = http::headerName(http::HeaderName::TransferEncoding);
    for (const auto& [name, value] : m_headers) {
        if (noCoding && name == codingName) {
            continue;
        }
        text.append(name).append(": ").append(value).append("\r\n");
    }
    text.append("\r\n");
    return text;
}

void HttpResponse::send(const char* body, bool finish) {
    const std::string_view text = body != nullptr ? body : "";
    if (m_timed) {
        const std::string url = m_request != nullptr ? m_request->url() : "unknown url";
        if (HttpLogPolicy::wouldRecord(url)) {
            const auto now = std::chrono::system_clock::now();
            const auto cost = std::chrono::milliseconds(utilities::steadyMilliseconds() - m_startTick);
            const std::string requestBody = m_request != nullptr ? m_request->content() : "";
            HttpLogPolicy::instance().record(url, m_startTime, now, cost, requestBody, std::string(text));
        }
    }
    auto manager = m_serverManager.lock();
    if (!manager) {
        return;
    }
    const std::string headText = head();
    const bool bodiless = m_headRequest || bodilessStatus(m_status);
    if (manager->isLoopThread()) {
        // A connection that closed meanwhile (or whose record was reused) no longer carries the number.
        if (m_connection != nullptr && m_mgr != nullptr && m_mgr->isOpen(m_connection) &&
            m_connection->request_number == m_requestNumber) {
            writeReply(m_connection, headText, text, bodiless);
        }
    } else {
        // The engine manager runs the task, so it is alive there; the connection may not be.
        manager->runOnLoop([mgr = m_mgr, c = m_connection, headText, text = std::string(text), bodiless,
                            number = m_requestNumber] {
            if (c != nullptr && mgr != nullptr && mgr->isOpen(c) && c->request_number == number) {
                writeReply(c, headText, text, bodiless);
            }
        });
    }
    if (finish) {
        next(false);
    }
}

void HttpResponse::next(bool flag) {
    OKV_ENSURE(m_nextHandler != nullptr, "m_nextHandler can not be null");
    auto self = m_self;  // keeps this response alive through the handler
    if (!m_nextHandler || !self) {
        return;
    }
    auto handler = m_nextHandler;
    if (!handler(self, flag)) {
        // The chain is over: the response lets its request and itself go.
        delete m_request;
        m_request = nullptr;
        m_self.reset();
    }
}

void HttpResponse::startTiming() {
    m_timed = true;
    m_startTick = utilities::steadyMilliseconds();
    m_startTime = std::chrono::system_clock::now();
}

void HttpResponse::setHandler(const NextHandler& handler) {
    OKV_ENSURE(handler != nullptr, "handler can not be null");
    if (handler) {
        m_nextHandler = handler;
    }
}

}  // namespace talvern
