#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace talvern {

class IWebSocket;

/// What a WebSocket server offers to the rest of the agent (and to modules, under "WebSocketServer").
class IWebSocketServer {
public:
    enum ListenerType : int { NewConnection = 0, CloseConnection = 1 };
    using Listener = std::function<void(std::shared_ptr<IWebSocket>)>;

    virtual ~IWebSocketServer() = default;

    /// Sends the text to every open connection; a failing connection does not stop the others.
    virtual void broadcast(const std::string& data) = 0;
    /// Closes every open connection with 1001 "Server reset" and forgets them.
    virtual void resetWebsocketConn() = 0;
    /// Registers a server-wide listener; returns its id.
    virtual std::uint32_t addListener(ListenerType type, Listener callback) = 0;

    /// "NewConnection", "CloseConnection", or "UnknownWebsocketEvent".
    static const char* listenerTypeName(int type) {
        switch (type) {
            case NewConnection:
                return "NewConnection";
            case CloseConnection:
                return "CloseConnection";
            default:
                return "UnknownWebsocketEvent";
        }
    }
};

}  // namespace talvern
