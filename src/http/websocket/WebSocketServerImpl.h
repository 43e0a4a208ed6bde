#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "http/websocket/IWebSocketServer.h"

namespace talvern {

/// The registry of a server's open sockets, by request number, and its server-wide listeners.
/// Listeners are always called outside the registry mutex.
class WebSocketServerImpl : public IWebSocketServer {
public:
    /// Decides whether a socket may receive what `broadcast` sends.
    using Audience = std::function<bool(const IWebSocket&)>;

    WebSocketServerImpl() = default;
    ~WebSocketServerImpl() override = default;
    WebSocketServerImpl(const WebSocketServerImpl&) = delete;
    WebSocketServerImpl& operator=(const WebSocketServerImpl&) = delete;

    /// Sends to every registered socket the audience admits (all of them while none is set).
    void broadcast(const std::string& data) override;
    /// Installs the audience of `broadcast`; the security layer admits trusted sockets only.
    void setAudience(Audience audience);
    void resetWebsocketConn() override;
    std::uint32_t addListener(ListenerType type, Listener callback) override;

    /// Calls the listeners of `type` with the socket (which must be present).
    void callWebSocketListener(int type, const std::shared_ptr<IWebSocket>& websocket);

    /// Registers an open socket under its request number.
    void add(std::uint32_t number, std::shared_ptr<IWebSocket> socket);
    /// The socket of a request number, or null.
    std::shared_ptr<IWebSocket> find(std::uint32_t number) const;
    /// The engine reported the connection closed: listeners, 1000 "Passive shutdown", forgotten.
    void passiveShutdown(std::uint32_t number);
    std::size_t size() const;

private:
    struct ListenerEntry {
        std::uint32_t id;
        int type;
        Listener callback;
    };

    mutable std::mutex m_mutex;  // guards the sockets, the listeners, the audience and the next id
    std::map<std::uint32_t, std::shared_ptr<IWebSocket>> m_sockets;
    std::list<ListenerEntry> m_listeners;
    Audience m_audience;
    std::uint32_t m_nextListenerId = 1;
};

}  // namespace talvern
