#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace talvern {

/// A close frame: status code and reason text.
struct CloseFrame {
    std::uint16_t code = 1000;
    std::string reason;
};

/// One open WebSocket connection. Every operation may be called from any thread: writes made off the
/// engine's loop thread are handed to it and dropped once the connection has gone.
class IWebSocket {
public:
    /// Per-connection events a listener can register for.
    enum class Event : int {
        Message = 0,  ///< a message from the peer: (socket, payload, the message's "path")
    };
    using Listener = std::function<void(const std::shared_ptr<IWebSocket>& socket, const std::string& data,
                                        const std::string& path)>;

    virtual ~IWebSocket() = default;

    /// The peer as "address:port".
    virtual std::string peer() const = 0;
    /// Sends a text message (audited with its content as JSON).
    virtual void sendText(const std::string& data) = 0;
    /// Sends a text message (audited with its content as a quoted text).
    virtual void sendTextNow(const std::string& data) = 0;
    /// Sends a binary message (audited as sendTextNow).
    virtual void sendBinaryNow(const std::string& data) = 0;
    /// Sends a binary message (audited as sendText).
    virtual void sendBinary(const std::string& data) = 0;
    /// Sends a notification, audited as sendText: `object` is a compact JSON object text without "seq"
    /// and "version" members, shared with other sockets and never changed; a socket of the numbered
    /// protocol adds its own numbering without copying it.
    virtual void sendNotification(std::shared_ptr<const std::string> object) { sendText(*object); }
    /// Sends a close frame; the connection ends once the peer answers.
    virtual void close(const CloseFrame& frame) = 0;
    /// Registers a listener; returns its id.
    virtual std::uint32_t addListener(Event event, Listener callback) = 0;
    /// Removes a listener; unknown ids are ignored.
    virtual void removeListener(std::uint32_t id) = 0;

    /// "message" for Event::Message, "UnknownWebsocketEvent" otherwise.
    static const char* eventName(Event event) {
        return event == Event::Message ? "message" : "UnknownWebsocketEvent";
    }
};

}  // namespace talvern
