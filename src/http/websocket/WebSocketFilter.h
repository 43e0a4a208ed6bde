#pragma once

#include <initializer_list>
#include <memory>
#include <string>

namespace talvern {

class WebSocket;

/// One node of the chain that every message a registered WebSocket receives passes before the socket
/// handles it. Nodes run in order; the first that answers false keeps the message from the socket.
class WebSocketFilter {
public:
    virtual ~WebSocketFilter() = default;

    /// Looks at one received message; false stops it.
    virtual bool doFilter(std::shared_ptr<WebSocket> socket, const std::string& data) = 0;

    const std::shared_ptr<WebSocketFilter>& next() const { return m_next; }
    void setNext(std::shared_ptr<WebSocketFilter> next) { m_next = std::move(next); }

    /// Links the nodes in order; returns the head (null for none).
    static std::shared_ptr<WebSocketFilter> chain(
        std::initializer_list<std::shared_ptr<WebSocketFilter>> nodes);
    /// Runs the chain from `head`; false as soon as a node stops the message. An empty chain lets it on.
    static bool run(const std::shared_ptr<WebSocketFilter>& head, const std::shared_ptr<WebSocket>& socket,
                    const std::string& data);

private:
    std::shared_ptr<WebSocketFilter> m_next;
};

}  // namespace talvern
