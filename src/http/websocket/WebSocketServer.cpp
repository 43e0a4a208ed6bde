#include "http/websocket/WebSocketServer.h"

#include <spdlog/common.h>

#include <exception>
#include <string>

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/Refusal.h"
#include "http/engine/Engine.h"
#include "http/websocket/WebSocketEx.h"
#include "http/websocket/WebSocketFilter.h"
#include "http/websocket/WebSocketHandshakeGuard.h"
#include "http/websocket/WebSocketManager.h"
#include "http/websocket/WebSocketPreprocessor.h"
#include "http/websocket/WebSocketServerImpl.h"
#include "log/Check.h"
#include "log/Log.h"
#include "log/Logger.h"

namespace talvern {

namespace {
constexpr const char* kTag = "HttpServer";
constexpr int kForbiddenStatus = 403;
}  // namespace

WebSocketServer::~WebSocketServer() = default;

void WebSocketServer::serverAudit(const std::string& line) {
    if (const auto& log = serverLog()) {
        try {
            log->log(spdlog::level::info, kTag, "talvern::WebSocketServer::onEvent", __LINE__, line.c_str());
        } catch (const std::exception& e) {
            OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "websocket audit line lost", e.what());
        }
    }
}

bool WebSocketServer::stop() {
    resetWebsocketConn();
    return true;
}

void WebSocketServer::broadcast(const std::string& data) { registry().broadcast(data); }

void WebSocketServer::resetWebsocketConn() { registry().resetWebsocketConn(); }

std::uint32_t WebSocketServer::addListener(ListenerType type, Listener callback) {
    return registry().addListener(type, std::move(callback));
}

void WebSocketServer::setPreprocessorChain(std::shared_ptr<WebSocketPreprocessor> head,
                                           std::shared_ptr<HttpServerContext> context) {
    std::lock_guard<std::mutex> lock(m_chainMutex);
    m_preprocessorHead = std::move(head);
    m_preprocessorContext = std::move(context);
}

void WebSocketServer::setFilterChain(std::shared_ptr<WebSocketFilter> head) {
    std::lock_guard<std::mutex> lock(m_chainMutex);
    m_filterHead = std::move(head);
}

void WebSocketServer::setHandshakeGuard(std::shared_ptr<WebSocketHandshakeGuard> guard,
                                        std::shared_ptr<HttpServerContext> context) {
    std::lock_guard<std::mutex> lock(m_chainMutex);
    m_guard = std::move(guard);
    m_guardContext = std::move(context);
}

void WebSocketServer::onEvent(engine::mg_connection* nc, int event, void* p) {
    OKV_ENSURE_OR_RETURN(nullptr != nc, "nc can not be null");
    OKV_ENSURE_OR_RETURN(nullptr != p, "p can not be null");
    switch (event) {
        case engine::MG_EV_WEBSOCKET_HANDSHAKE_REQUEST:
            onHandshakeRequest(nc, p);
            break;
        case engine::MG_EV_WEBSOCKET_HANDSHAKE_DONE:
            onHandshakeDone(nc, p);
            break;
        case engine::MG_EV_WEBSOCKET_FRAME:
            onFrame(nc, p);
            break;
        case engine::MG_EV_CLOSE:
            if ((nc->flags & engine::MG_F_IS_WEBSOCKET) != 0) {
                const std::uint32_t number = nc->request_number;
                nc->request_number = 0;  // writes still posted for this socket are dropped
                registry().passiveShutdown(number);
            } else {
                HttpServer::onEvent(nc, event, p);
            }
            break;
        default:
            HttpServer::onEvent(nc, event, p);
            break;
    }
}

void WebSocketServer::onHandshakeRequest(engine::mg_connection* nc, void* p) {
    std::shared_ptr<WebSocketHandshakeGuard> guard;
    std::shared_ptr<HttpServerContext> context;
    {
        std::lock_guard<std::mutex> lock(m_chainMutex);
        guard = m_guard;
        context = m_guardContext;
    }
    auto manager = this->manager();
    if (!guard || !manager) {
        return;
    }
    nc->request_number = nextRequestNumber();
    // The pair is owned by the response's next-handler chain, as for any HTTP request.
    auto* request = new HttpRequest(static_cast<engine::http_message*>(p), nc);
    auto* response = new HttpResponse(request, nc, nc->request_number, manager);
    bool admitted = false;
    try {
        admitted = guard->admit(context, std::shared_ptr<IRequest>(request, [](IRequest*) {}));
    } catch (const std::exception& e) {
        OKV_LOG_TAG_ERROR(kTag, "[traceid:{}] {}; Reason: {}", request->traceId(),
                          "websocket handshake guard failed", e.what());
    }
    if (admitted) {
        response->next(false);
        return;
    }
    const std::string body = http::refusalReply();
    nc->flags |= engine::MG_F_SEND_AND_CLOSE;
    response->setStatus(kForbiddenStatus);
    response->setHeader("Connection", "close");
    response->send(body.c_str(), true);
}

void WebSocketServer::onHandshakeDone(engine::mg_connection* nc, void* p) {
    OKV_LOG_TAG_DEBUG(kTag, "WebSocket handshake done");
    nc->request_number = nextRequestNumber();
    auto websocketManager = std::dynamic_pointer_cast<WebSocketManager>(manager());
    OKV_ENSURE(websocketManager != nullptr, "HttpServerManager cann't used as WebSocketManager");
    if (!websocketManager) {
        nc->closeImmediately();
        return;
    }
    auto socket = std::make_shared<WebSocketEx>(static_cast<engine::http_message*>(p), nc, websocketManager,
                                                serverLog());
    std::shared_ptr<WebSocketPreprocessor> head;
    std::shared_ptr<HttpServerContext> context;
    {
        std::lock_guard<std::mutex> lock(m_chainMutex);
        head = m_preprocessorHead;
        context = m_preprocessorContext;
    }
    bool accepted = true;
    if (head) {
        try {
            accepted = WebSocketPreprocessor::run(head, context, socket);
        } catch (const std::exception& e) {
            OKV_LOG_TAG_ERROR(kTag, "[traceid:{}] {}; Reason: {}", socket->traceId(),
                              "websocket preprocessor failed", e.what());
            accepted = false;
        }
    }
    if (!accepted) {
        serverAudit(
            fmt::format("{{\"time\": \"{}\", \"id\": {}, \"form\": \"{}\", \"type\": \"reject\", \"reason\": "
                        "\"Violation of "
                        "policy\"}}",
                        WebSocket::auditTime(), socket->id(), socket->peer()));
        socket->close(CloseFrame{1008, "Insecurity connection"});
        return;
    }
    serverAudit(fmt::format("{{\"time\": \"{}\", \"id\": {}, \"form\": \"{}\", \"type\": \"connect\"}}",
                            WebSocket::auditTime(), socket->id(), socket->peer()));
    registry().add(socket->id(), socket);
    registry().callWebSocketListener(NewConnection, socket);
}

void WebSocketServer::onFrame(engine::mg_connection* nc, void* p) {
    OKV_LOG_TAG_DEBUG(kTag, "WebSocket Frame");
    auto socket = std::dynamic_pointer_cast<WebSocket>(registry().find(nc->request_number));
    if (!socket) {
        OKV_LOG_TAG_WARN(kTag, "Unable to find the corresponding websocket object{}", "");
        return;
    }
    const auto* frame = static_cast<engine::websocket_message*>(p);
    std::string data(reinterpret_cast<const char*>(frame->data), frame->size);
    std::shared_ptr<WebSocketFilter> filters;
    {
        std::lock_guard<std::mutex> lock(m_chainMutex);
        filters = m_filterHead;
    }
    if (WebSocketFilter::run(filters, socket, data)) {
        socket->receive(data);
    }
}

}  // namespace talvern
