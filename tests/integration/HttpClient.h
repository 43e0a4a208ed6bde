#pragma once

// An HTTP/1.1 client for tests, over TLS like the agent's listeners (the peer is not verified unless the
// options ask for it): one request on a fresh loopback connection (or several on one kept-alive
// connection), the whole reply read back, chunked bodies decoded. A connection upgraded to a WebSocket
// then carries frames.

#include <cstdint>
#include <map>
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

struct HttpReply {
    std::string statusLine;
    int status = 0;
    std::map<std::string, std::string> headers;  ///< names as sent
    std::string body;                            ///< decoded
};

class HttpClient {
public:
    explicit HttpClient(std::uint16_t port, const LoopbackStream::Options& options = {})
        : m_stream(port, options) {}

    bool connected() const { return m_stream.connected(); }
    /// Sends a request and reads its reply; empty when the connection failed or closed first.
    std::optional<HttpReply> request(const std::string& method, const std::string& path,
                                     const std::string& body = {},
                                     const std::map<std::string, std::string>& headers = {});

    /// One request on its own connection.
    static std::optional<HttpReply> once(std::uint16_t port, const std::string& method,
                                         const std::string& path, const std::string& body = {},
                                         const std::map<std::string, std::string>& headers = {}) {
        return HttpClient(port).request(method, path, body, headers);
    }

    /// Asks for a WebSocket on the connection; true when the server answered 101.
    bool upgrade(const std::string& path, std::map<std::string, std::string> headers = {}) {
        auto reply = upgradeReply(path, std::move(headers));
        return reply && reply->status == 101;
    }
    /// Asks for a WebSocket on the connection; the server's answer (empty when none came).
    std::optional<HttpReply> upgradeReply(const std::string& path,
                                          std::map<std::string, std::string> headers);
    /// Sends one masked WebSocket text frame.
    bool sendText(const std::string& text) { return sendFrame(1, text); }
    /// The next WebSocket frame that is not a ping (pings are answered); nothing when the stream ended.
    std::optional<WsFrame> readFrame();

    /// The connection under the client (its TLS peer, or raw bytes for other protocols).
    LoopbackStream& stream() { return m_stream; }

private:
    bool sendFrame(int opcode, const std::string& payload);
    /// Reads until m_buffer holds `size` bytes; false when the stream ends first.
    bool fill(std::size_t size);
    /// Reads until m_buffer holds `text`; its position, or npos when the stream ends first.
    std::size_t fillUntil(const std::string& text);

    LoopbackStream m_stream;
    std::string m_buffer;
};

}  // namespace talvern::test
