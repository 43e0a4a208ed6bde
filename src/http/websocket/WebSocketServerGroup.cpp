#include "http/websocket/WebSocketServerGroup.h"

#include "http/websocket/WebSocketPreprocessor.h"
#include "http/websocket/WebSocketServer.h"
#include "log/Check.h"

namespace talvern {

void WebSocketServerGroup::forEach(const std::function<void(std::shared_ptr<WebSocketServer>)>& fn) {
    for (const auto& [name, server] : m_servers) {
        auto websocketServer = std::dynamic_pointer_cast<WebSocketServer>(server);
        OKV_ENSURE(websocketServer != nullptr, "HttpServer cann't used as WebSocketServer");
        if (websocketServer) {
            fn(websocketServer);
        }
    }
}

void WebSocketServerGroup::broadcast(const std::string& data) {
    forEach([&data](const std::shared_ptr<WebSocketServer>& server) { server->broadcast(data); });
}

void WebSocketServerGroup::resetWebsocketConn() {
    forEach([](const std::shared_ptr<WebSocketServer>& server) { server->resetWebsocketConn(); });
}

std::uint32_t WebSocketServerGroup::addListener(ListenerType type, Listener callback) {
    std::uint32_t id = 0;
    forEach(
        [&](const std::shared_ptr<WebSocketServer>& server) { id = server->addListener(type, callback); });
    return id;
}

void WebSocketServerGroup::setPreprocessorChain(const std::shared_ptr<WebSocketPreprocessor>& head,
                                                const std::shared_ptr<HttpServerContext>& context) {
    forEach(
        [&](const std::shared_ptr<WebSocketServer>& server) { server->setPreprocessorChain(head, context); });
}

void WebSocketServerGroup::setFilterChain(const std::shared_ptr<WebSocketFilter>& head) {
    forEach([&](const std::shared_ptr<WebSocketServer>& server) { server->setFilterChain(head); });
}

void WebSocketServerGroup::setAudience(const WebSocketServerImpl::Audience& audience) {
    forEach(
        [&](const std::shared_ptr<WebSocketServer>& server) { server->registry().setAudience(audience); });
}

void WebSocketServerGroup::setHandshakeGuard(const std::shared_ptr<WebSocketHandshakeGuard>& guard,
                                             const std::shared_ptr<HttpServerContext>& context) {
    forEach(
        [&](const std::shared_ptr<WebSocketServer>& server) { server->setHandshakeGuard(guard, context); });
}

}  // namespace talvern
