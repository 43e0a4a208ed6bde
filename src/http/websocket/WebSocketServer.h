#pragma once

#include <memory>
#include <mutex>

#include "http/HttpServer.h"
#include "http/websocket/IWebSocketServer.h"
#include "http/websocket/WebSocketServerImpl.h"

namespace talvern {

class HttpServerContext;
class WebSocketFilter;
class WebSocketHandshakeGuard;
class WebSocketPreprocessor;

/// An HTTP server whose listener also upgrades connections to WebSockets. An upgrade request first passes
/// the handshake guard (refused: answered 403 and closed, never upgraded); a new socket then passes the
/// WebSocket preprocessor chain (refused: closed with 1008 "Insecurity connection"), is registered by
/// its request number and announced to the "NewConnection" listeners; its messages go to the socket,
/// its end to the "CloseConnection" listeners. Needs a WebSocketManager.
class WebSocketServer : public HttpServer, public IWebSocketServer {
public:
    using HttpServer::HttpServer;
    ~WebSocketServer() override;

    /// Closes every socket (1001 "Server reset").
    bool stop() override;
    void onEvent(engine::mg_connection* nc, int event, void* p) override;

    void broadcast(const std::string& data) override;
    void resetWebsocketConn() override;
    std::uint32_t addListener(ListenerType type, Listener callback) override;

    /// Installs the chain new sockets pass (see WebSocketPreprocessor::chain) and its context.
    void setPreprocessorChain(std::shared_ptr<WebSocketPreprocessor> head,
                              std::shared_ptr<HttpServerContext> context);
    /// Installs the chain every received message passes before its socket handles it.
    void setFilterChain(std::shared_ptr<WebSocketFilter> head);
    /// Installs the guard every upgrade request passes before the upgrade, and its context.
    void setHandshakeGuard(std::shared_ptr<WebSocketHandshakeGuard> guard,
                           std::shared_ptr<HttpServerContext> context);
    /// The registry.
    WebSocketServerImpl& registry() { return *m_impl; }

private:
    /// Runs the guard on an upgrade request; a refusal is answered here and ends the connection.
    void onHandshakeRequest(engine::mg_connection* nc, void* p);
    void onHandshakeDone(engine::mg_connection* nc, void* p);
    void onFrame(engine::mg_connection* nc, void* p);
    void serverAudit(const std::string& line);

    std::shared_ptr<WebSocketServerImpl> m_impl = std::make_shared<WebSocketServerImpl>();
    std::mutex m_chainMutex;  // guards the chain heads, the guard and their contexts
    std::shared_ptr<WebSocketPreprocessor> m_preprocessorHead;
    std::shared_ptr<HttpServerContext> m_preprocessorContext;
    std::shared_ptr<WebSocketFilter> m_filterHead;
    std::shared_ptr<WebSocketHandshakeGuard> m_guard;
    std::shared_ptr<HttpServerContext> m_guardContext;
};

}  // namespace talvern
