#pragma once

// Test side of the engine tests: a manager driven by its own loop thread, and a small blocking
// loopback client that speaks just enough HTTP/1.1 (chunked replies) to check the server.

#include <utility>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/engine/Engine.h"

namespace talvern::test {

/// One manager, one listener on an ephemeral loopback port, one loop thread.
class EngineHarness {
public:
    using Handler = std::function<void(engine::mg_connection*, int, void*)>;

    explicit EngineHarness(engine::EngineLimits limits = {}) : mgr(nullptr, limits) {}
    ~EngineHarness() { stop(); }

    /// Binds (with `opts`, e.g. TLS files) and starts the loop; the handler runs on the loop thread.
    void start(Handler handler, engine::mg_bind_opts opts = {}) {
        m_handler = std::move(handler);
        std::string error;
        opts.error_string = &error;
        listener = mgr.bind(
            "127.0.0.1:0", [this](engine::mg_connection* c, int ev, void* data) { m_handler(c, ev, data); },
            opts);
        if (listener == nullptr) {
            throw std::runtime_error("bind failed: " + error);
        }
        port = listener->localPort();
    }
    void run() {
        mgr.setProtocolHttpWebsocket(listener);
        m_thread = std::thread([this] {
            loopThread = std::this_thread::get_id();
            while (!m_stop.load()) {
                mgr.poll(20);
            }
        });
    }
    void stop() {
        if (m_thread.joinable()) {
            m_stop = true;
            mgr.wakeUp();
            m_thread.join();
        }
    }

    engine::mg_mgr mgr;
    engine::mg_connection* listener = nullptr;
    std::uint16_t port = 0;
    std::atomic<std::thread::id> loopThread{};

private:
    Handler m_handler;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

/// Writes "HTTP/1.1 <status> X" with a chunked body made of `chunks` and the terminating chunk.
inline void replyChunked(engine::mg_connection* c, const std::vector<std::string>& chunks, int status = 200) {
    c->sendf("HTTP/1.1 {} X\r\nTransfer-Encoding: chunked\r\n\r\n", status);
    for (const auto& chunk : chunks) {
        c->sendHttpChunk(chunk.data(), chunk.size());
    }
    c->sendHttpChunk("", 0);
}

struct Reply {
    int status = 0;
    std::string head;
    std::string body;
};

/// A blocking loopback client, plain or (given a client context) TLS.
class Client {
public:
    explicit Client(std::uint16_t port, boost::asio::ssl::context* tls = nullptr)
        : m_plainContext(boost::asio::ssl::context::tls_client),
          m_stream(m_io, tls != nullptr ? *tls : m_plainContext),
          m_tls(tls != nullptr) {
        socket().connect({boost::asio::ip::make_address("127.0.0.1"), port});
        if (m_tls) {
            m_stream.handshake(boost::asio::ssl::stream_base::client);
        }
    }
    void write(const std::string& bytes) {
        if (m_tls) {
            boost::asio::write(m_stream, boost::asio::buffer(bytes));
        } else {
            boost::asio::write(socket(), boost::asio::buffer(bytes));
        }
    }
    void close() {
        boost::system::error_code ignored;
        socket().close(ignored);
    }

    /// Reads one reply (chunked or Content-Length; the head alone when `headOnly`, as for HEAD);
    /// nullopt when the server closed first.
    std::optional<Reply> read(bool headOnly = false) {
        Reply reply;
        const auto headEnd = until("\r\n\r\n");
        if (!headEnd) {
            return std::nullopt;
        }
        reply.head = m_pending.substr(0, *headEnd);
        m_pending.erase(0, *headEnd + 4);
        reply.status = std::stoi(reply.head.substr(9, 3));
        if (headOnly) {
            return reply;
        }
        if (reply.head.find("Transfer-Encoding: chunked") != std::string::npos) {
            while (true) {
                const auto lineEnd = until("\r\n");
                if (!lineEnd) {
                    return std::nullopt;
                }
                const std::size_t size = std::stoul(m_pending.substr(0, *lineEnd), nullptr, 16);
                m_pending.erase(0, *lineEnd + 2);
                if (!fill(size + 2)) {
                    return std::nullopt;
                }
                reply.body += m_pending.substr(0, size);
                m_pending.erase(0, size + 2);
                if (size == 0) {
                    break;
                }
            }
        } else if (const auto at = reply.head.find("Content-Length: "); at != std::string::npos) {
            const std::size_t size = std::stoul(reply.head.substr(at + 16));
            if (!fill(size)) {
                return std::nullopt;
            }
            reply.body = m_pending.substr(0, size);
            m_pending.erase(0, size);
        }
        return reply;
    }

    /// True when the server closed the connection (reads until end of stream).
    bool closedByServer() {
        boost::system::error_code ec;
        char byte;
        while (!ec) {
            readSome(&byte, 1, ec);
        }
        return ec == boost::asio::error::eof || ec == boost::asio::error::connection_reset ||
               ec == boost::asio::ssl::error::stream_truncated;
    }

    boost::asio::ip::tcp::socket& socket() { return m_stream.next_layer(); }
    /// The TLS session (meaningful with a client context).
    SSL* ssl() { return m_stream.native_handle(); }

    /// Sends one masked WebSocket frame (payload under 64 KiB).
    void writeFrame(int opcode, const std::string& payload) { write(frame(opcode, payload)); }

    /// One masked WebSocket frame as a client sends it (payload under 64 KiB).
    static std::string frame(int opcode, const std::string& payload) {
        std::string frame;
        frame += static_cast<char>(0x80 | opcode);
        if (payload.size() < 126) {
            frame += static_cast<char>(0x80 | payload.size());
        } else {
            frame += static_cast<char>(0x80 | 126);
            frame += static_cast<char>((payload.size() >> 8) & 0xff);
            frame += static_cast<char>(payload.size() & 0xff);
        }
        const char mask[4] = {0x12, 0x34, 0x56, 0x78};
        frame.append(mask, 4);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            frame += static_cast<char>(payload[i] ^ mask[i % 4]);
        }
        return frame;
    }

    /// Reads one unmasked frame from the server: (opcode, payload); nullopt when the stream ends.
    std::optional<std::pair<int, std::string>> readFrame() {
        if (!fill(2)) {
            return std::nullopt;
        }
        const int opcode = static_cast<unsigned char>(m_pending[0]) & 0x0f;
        std::size_t size = static_cast<unsigned char>(m_pending[1]) & 0x7f;
        std::size_t headSize = 2;
        if (size == 126) {
            if (!fill(4)) {
                return std::nullopt;
            }
            size = (static_cast<std::size_t>(static_cast<unsigned char>(m_pending[2])) << 8) |
                   static_cast<unsigned char>(m_pending[3]);
            headSize = 4;
        }
        if (!fill(headSize + size)) {
            return std::nullopt;
        }
        auto frame = std::make_pair(opcode, m_pending.substr(headSize, size));
        m_pending.erase(0, headSize + size);
        return frame;
    }

private:
    std::optional<std::size_t> until(const std::string& marker) {
        while (true) {
            if (const auto at = m_pending.find(marker); at != std::string::npos) {
                return at;
            }
            if (!more()) {
                return std::nullopt;
            }
        }
    }
    bool fill(std::size_t size) {
        while (m_pending.size() < size) {
            if (!more()) {
                return false;
            }
        }
        return true;
    }
    std::size_t readSome(char* buffer, std::size_t size, boost::system::error_code& ec) {
        if (m_tls) {
            return m_stream.read_some(boost::asio::buffer(buffer, size), ec);
        }
        return socket().read_some(boost::asio::buffer(buffer, size), ec);
    }
    bool more() {
        char buffer[4096];
        boost::system::error_code ec;
        const auto n = readSome(buffer, sizeof(buffer), ec);
        if (ec) {
            return false;
        }
        m_pending.append(buffer, n);
        return true;
    }

    boost::asio::io_context m_io;
    boost::asio::ssl::context m_plainContext;  // unused unless TLS; the stream needs one
    boost::asio::ssl::stream<boost::asio::ip::tcp::socket> m_stream;
    bool m_tls;
    std::string m_pending;
};

inline std::string get(const std::string& uri, const std::string& extra = {}) {
    return "GET " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

/// A WebSocket upgrade request with the sample key of RFC 6455.
inline std::string upgrade(const std::string& uri) {
    return get(uri,
               "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
               "Sec-WebSocket-Version: 13\r\n");
}

/// Sends one request over TLS trusting only `trusted`; the reply's body, or the failure text.
inline std::string tlsGet(std::uint16_t port, const std::string& trusted) {
    boost::asio::ssl::context ctx(boost::asio::ssl::context::tls_client);
    ctx.add_certificate_authority(boost::asio::buffer(trusted));
    ctx.set_verify_mode(boost::asio::ssl::verify_peer);
    try {
        Client client(port, &ctx);
        client.write(get("/tls"));
        auto reply = client.read();
        return reply ? reply->body : "no reply";
    } catch (const std::exception& e) {
        return std::string("failed: ") + e.what();
    }
}

inline std::string post(const std::string& uri, const std::string& body) {
    return "POST " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

}  // namespace talvern::test
