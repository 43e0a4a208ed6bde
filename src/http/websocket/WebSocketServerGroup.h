#pragma once

#include <functional>
#include <memory>

#include "http/HttpServerGroup.h"
#include "http/websocket/IWebSocketServer.h"
#include "http/websocket/WebSocketServerImpl.h"

namespace talvern {

class HttpServerContext;
class WebSocketFilter;
class WebSocketHandshakeGuard;
class WebSocketPreprocessor;
class WebSocketServer;

/// A server group whose servers are WebSocket servers; each WebSocket operation applies to all of them.
class WebSocketServerGroup : public HttpServerGroup, public IWebSocketServer {
public:
    WebSocketServerGroup() = default;
    ~WebSocketServerGroup() override = default;

    /// Calls fn with every server of the group (each must be a WebSocketServer).
    void forEach(const std::function<void(std::shared_ptr<WebSocketServer>)>& fn);

    void broadcast(const std::string& data) override;
    void resetWebsocketConn() override;
    /// Registers the listener on every server; returns the id given by the last one (0 with no server).
    std::uint32_t addListener(ListenerType type, Listener callback) override;
    /// Installs the same preprocessor chain on every server.
    void setPreprocessorChain(const std::shared_ptr<WebSocketPreprocessor>& head,
                              const std::shared_ptr<HttpServerContext>& context);
    /// Installs the same message filter chain on every server.
    void setFilterChain(const std::shared_ptr<WebSocketFilter>& head);
    /// Installs the same broadcast audience on every server.
    void setAudience(const WebSocketServerImpl::Audience& audience);
    /// Installs the same handshake guard on every server.
    void setHandshakeGuard(const std::shared_ptr<WebSocketHandshakeGuard>& guard,
                           const std::shared_ptr<HttpServerContext>& context);
};

}  // namespace talvern
