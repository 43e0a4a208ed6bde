#pragma once

// Test side of the engine tests: a manager driven by its own loop thread, a blocking loopback client
// that writes raw bytes and reads replies with Beast's parser, and Beast's WebSocket client.

#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http/engine/Engine.h"

namespace talvern::test {

namespace asio = boost::asio;
namespace beast = boost::beast;

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

/// Records the events a handler saw (and counts the closes), for checks from the test thread.
struct EventLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> events;
    int closes = 0;

    void add(int event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
        if (event == engine::MG_EV_CLOSE) {
            ++closes;
        }
        changed.notify_all();
    }
    bool waitForCloses(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return closes >= count; });
    }
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
    std::string head;  ///< status line and header lines as received
    std::string body;  ///< decoded
    beast::http::fields fields;

    std::string header(const std::string& name) const {
        const auto found = fields.find(name);
        return found != fields.end() ? std::string(found->value()) : "<none>";
    }
};

/// A blocking loopback client, plain or (given a client context) TLS, that sends raw bytes.
class Client {
public:
    explicit Client(std::uint16_t port, asio::ssl::context* tls = nullptr)
        : m_plainContext(asio::ssl::context::tls_client),
          m_stream(m_io, tls != nullptr ? *tls : m_plainContext) {
        socket().connect({asio::ip::make_address("127.0.0.1"), port});
        if (tls != nullptr) {
            m_stream.handshake(asio::ssl::stream_base::client);
            m_tls = true;
        }
    }
    /// Writes `bytes`; a connection the server closed shows in the next read.
    void write(const std::string& bytes) {
        beast::error_code ignored;
        onStream([&](auto& s) { return asio::write(s, asio::buffer(bytes), ignored); });
    }
    void close() {
        boost::system::error_code ignored;
        socket().close(ignored);
    }

    /// Reads one reply (the head alone when `headOnly`, as for HEAD); nullopt when the server closed first.
    std::optional<Reply> read(bool headOnly = false) {
        beast::http::response_parser<beast::http::string_body> parser;
        parser.skip(headOnly);
        beast::error_code ec;
        onStream([&](auto& s) { return beast::http::read(s, m_buffer, parser, ec); });
        if (ec) {
            return std::nullopt;
        }
        std::ostringstream head;
        head << parser.get().base();
        return Reply{static_cast<int>(parser.get().result_int()), head.str(), parser.get().body(),
                     parser.get().base()};
    }

    /// Writes `request` and reads its reply.
    std::optional<Reply> ask(const std::string& request) {
        write(request);
        return read();
    }

    /// True when the server closed the connection (reads until end of stream).
    bool closedByServer() {
        beast::error_code ec;
        while (!ec) {
            m_buffer.consume(m_buffer.size());
            onStream([&](auto& s) { return s.read_some(m_buffer.prepare(1024), ec); });
        }
        return ec == asio::error::eof || ec == asio::error::connection_reset ||
               ec == asio::ssl::error::stream_truncated;
    }

    asio::ip::tcp::socket& socket() { return m_stream.next_layer(); }
    /// The TLS session (meaningful with a client context).
    SSL* ssl() { return m_stream.native_handle(); }

private:
    template <class Operation>
    std::size_t onStream(Operation operation) {
        return m_tls ? operation(m_stream) : operation(socket());
    }

    asio::io_context m_io;
    asio::ssl::context m_plainContext;  // unused unless TLS; the stream needs one
    asio::ssl::stream<asio::ip::tcp::socket> m_stream;
    bool m_tls = false;
    beast::flat_buffer m_buffer;
};

/// A WebSocket client on a loopback port (Beast answers pings and close frames itself).
class WsClient {
public:
    explicit WsClient(std::uint16_t port, const std::string& target = "/ws") : m_ws(m_io) {
        m_ws.next_layer().connect({asio::ip::make_address("127.0.0.1"), port});
        m_ws.handshake("127.0.0.1", target);
    }
    void send(const std::string& payload, bool binary = false) {
        m_ws.binary(binary);
        m_ws.write(asio::buffer(payload));
    }
    /// The next message; nullopt once the connection is closed (then `closeReason` tells why).
    std::optional<std::string> receive() {
        beast::flat_buffer buffer;
        beast::error_code ec;
        m_ws.read(buffer, ec);
        return ec ? std::nullopt : std::optional(beast::buffers_to_string(buffer.data()));
    }
    bool gotBinary() const { return m_ws.got_binary(); }
    std::pair<int, std::string> closeReason() const {
        return {m_ws.reason().code, std::string(m_ws.reason().reason.c_str())};
    }
    asio::ip::tcp::socket& socket() { return m_ws.next_layer(); }

private:
    asio::io_context m_io;
    beast::websocket::stream<asio::ip::tcp::socket> m_ws;
};

/// One masked WebSocket frame as a client sends it (payload under 126 bytes), for peers that misbehave.
inline std::string maskedFrame(int opcode, const std::string& payload) {
    std::string frame{
        static_cast<char>(0x80 | opcode), static_cast<char>(0x80 | payload.size()), 0x12, 0x34, 0x56, 0x78};
    for (std::size_t i = 0; i < payload.size(); ++i) {
        frame += static_cast<char>(payload[i] ^ frame[2 + i % 4]);
    }
    return frame;
}

inline std::string get(const std::string& uri, const std::string& extra = {}) {
    return "GET " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

inline std::string post(const std::string& uri, const std::string& body) {
    return "POST " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

/// Sends one request over TLS trusting only `trusted`; the reply's body, or the failure text.
inline std::string tlsGet(std::uint16_t port, const std::string& trusted) {
    asio::ssl::context ctx(asio::ssl::context::tls_client);
    ctx.add_certificate_authority(asio::buffer(trusted));
    ctx.set_verify_mode(asio::ssl::verify_peer);
    try {
        Client client(port, &ctx);
        client.write(get("/tls"));
        auto reply = client.read();
        return reply ? reply->body : "no reply";
    } catch (const std::exception& e) {
        return std::string("failed: ") + e.what();
    }
}

}  // namespace talvern::test
