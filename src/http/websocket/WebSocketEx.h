#pragma once

#include <cstdint>
#include <mutex>

#include "http/websocket/WebSocket.h"

namespace talvern {

/// The agent's message protocol on top of a WebSocket: every JSON text frame sent carries "seq"
/// (0, 1, 2, ... per connection) and "version" 1; a peer message with "version" 1 or more must carry
/// the next expected "seq" or the connection is closed with 1007; a "heartbeat" message is answered
/// with "pong" and not delivered.
class WebSocketEx : public WebSocket {
public:
    using WebSocket::WebSocket;
    ~WebSocketEx() override = default;

    void onMessage(const std::string& data) override;
    void sendFrameImmediately(engine::mg_connection* connection, int opcode,
                              const std::string& data) override;
    /// The object is not parsed again: its closing brace gives way to this socket's "seq" and "version".
    void sendNotificationImmediately(engine::mg_connection* connection,
                                     const std::shared_ptr<const std::string>& object) override;

private:
    std::int32_t nextSendSeq();

    std::mutex m_seqMutex;  // guards both counters
    std::int32_t m_sendSeq = 0;
    std::int32_t m_expectedSeq = 0;
};

}  // namespace talvern
