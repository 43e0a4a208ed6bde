#pragma once

#include <cstdint>
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
    WebSocketServerImpl() = default;
    ~WebSocketServerImpl() override = default;
    WebSocketServerImpl(const WebSocketServerImpl&) = delete;
    WebSocketServerImpl& operator=(const WebSocketServerImpl&) = delete;

    void broadcast(const std::string& data) override;
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

    mutable std::mutex m_mutex;  // guards the sockets, the listeners and the next id
    std::map<std::uint32_t, std::shared_ptr<IWebSocket>> m_sockets;
    std::list<ListenerEntry> m_listeners;
    std::uint32_t m_nextListenerId = 1;
};

}  // namespace talvern
