#pragma once

// A small WebSocket client for tests. It speaks the protocol over two functions, read and write, so
// that the same client runs over a plain loopback connection or over any other stream (TLS) that
// supplies them.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "LoopbackStream.h"

namespace talvern::test {

struct WsFrame {
    int opcode = 0;  ///< 1 text, 2 binary, 8 close, 9 ping, 10 pong
    std::string payload;
    /// The code of a close frame (0 for others).
    int closeCode() const;
};

class WsClient {
public:
    /// Reads up to `size` bytes; 0 at end of stream, -1 on error or time-out.
    using ReadFn = std::function<long(char* buffer, std::size_t size)>;
    /// Writes all bytes; false on error.
    using WriteFn = std::function<bool(const char* data, std::size_t size)>;

    WsClient(ReadFn read, WriteFn write, std::function<void()> close = {});
    ~WsClient();
    WsClient(const WsClient&) = delete;
    WsClient& operator=(const WsClient&) = delete;

    /// A client on a loopback connection (TLS unless the options say otherwise); null when the connection
    /// fails.
    static std::unique_ptr<WsClient> connect(
        std::uint16_t port, const LoopbackStream::Options& options = LoopbackStream::Options());

    /// Sends the upgrade request; true when the server answered 101.
    bool handshake(const std::string& path, const std::map<std::string, std::string>& headers = {});
    /// Sends one masked text frame.
    bool sendText(const std::string& text);
    /// Sends one masked frame of any opcode.
    bool sendFrame(int opcode, const std::string& payload);
    /// The next frame that is not a ping (pings are answered); nothing when the stream ended.
    std::optional<WsFrame> readFrame();

private:
    bool fill(std::size_t size);

    ReadFn m_read;
    WriteFn m_write;
    std::function<void()> m_close;
    std::string m_pending;
};

}  // namespace talvern::test
