#pragma once

// The event engine of the loopback web server: one manager driven by one loop thread, listeners bound
// to "address:port" texts, connection records and the events a server handler receives. It is a thin
// layer over Asio and Beast (parsing, WebSocket framing, TLS); none of their headers leak from here.
//
//     mg_mgr mgr(&server);
//     mg_bind_opts opts;
//     opts.user_data = &server;
//     mg_connection* listener = mgr.bind("127.0.0.1:0", &Server::onEvent, opts);
//     mgr.setProtocolHttpWebsocket(listener);
//     while (running) { mgr.poll(100); }          // every handler call happens inside poll
//
// Connection records are valid from their accept event until their close event; only the loop
// thread may touch them. Other threads reach the loop with `broadcast`.

#include <fmt/format.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvern::engine {

// Events delivered to a connection's handler. Every event carries non-null event data.
inline constexpr int MG_EV_POLL = 0;            ///< data: double* (seconds since epoch)
inline constexpr int MG_EV_ACCEPT = 1;          ///< data: const std::string* (peer address)
inline constexpr int MG_EV_CONNECT = 2;         ///< outbound connections; not raised by servers
inline constexpr int MG_EV_RECV = 3;            ///< data: int* (bytes received)
inline constexpr int MG_EV_SEND = 4;            ///< data: int* (bytes written)
inline constexpr int MG_EV_CLOSE = 5;           ///< data: int* (always 0)
inline constexpr int MG_EV_HTTP_REQUEST = 100;  ///< data: http_message*
/// data: http_message*. A handler that writes an answer and sets MG_F_SEND_AND_CLOSE refuses the upgrade:
/// the answer goes, then the connection.
inline constexpr int MG_EV_WEBSOCKET_HANDSHAKE_REQUEST = 111;
inline constexpr int MG_EV_WEBSOCKET_HANDSHAKE_DONE = 112;  ///< data: http_message* (the upgrade request)
inline constexpr int MG_EV_WEBSOCKET_FRAME = 113;           ///< data: websocket_message*

// Connection flags.
inline constexpr unsigned long MG_F_LISTENING = 1UL << 0;
inline constexpr unsigned long MG_F_SSL = 1UL << 4;
inline constexpr unsigned long MG_F_IS_WEBSOCKET = 1UL << 8;
inline constexpr unsigned long MG_F_SEND_AND_CLOSE = 1UL << 10;
inline constexpr unsigned long MG_F_CLOSE_IMMEDIATELY = 1UL << 11;

// WebSocket opcodes (websocket_message::flags holds the opcode of a received message).
inline constexpr int WEBSOCKET_OP_CONTINUE = 0;
inline constexpr int WEBSOCKET_OP_TEXT = 1;
inline constexpr int WEBSOCKET_OP_BINARY = 2;
inline constexpr int WEBSOCKET_OP_CLOSE = 8;
inline constexpr int WEBSOCKET_OP_PING = 9;
inline constexpr int WEBSOCKET_OP_PONG = 10;

/// Number of header name/value slots of a parsed message; further headers are not exposed.
inline constexpr int MG_MAX_HTTP_HEADERS = 40;

/// A borrowed byte range; `p` is null when the part is absent.
struct mg_str {
    const char* p = nullptr;
    std::size_t len = 0;
    std::string_view view() const { return p != nullptr ? std::string_view(p, len) : std::string_view(); }
};

/// A parsed HTTP request; every range points into engine storage valid during the event only.
struct http_message {
    mg_str message;       ///< the whole request as received (head and body)
    mg_str body;          ///< the decoded body (chunked request bodies are joined)
    mg_str method;        ///< "GET", "POST", ...
    mg_str uri;           ///< the target without its query string
    mg_str proto;         ///< "HTTP/1.1"
    mg_str query_string;  ///< the part after '?', absent when there is none
    mg_str header_names[MG_MAX_HTTP_HEADERS];
    mg_str header_values[MG_MAX_HTTP_HEADERS];
};

/// One received WebSocket message (the frames of a fragmented message are joined).
struct websocket_message {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    unsigned char flags = 0;  ///< the opcode: WEBSOCKET_OP_TEXT or WEBSOCKET_OP_BINARY
};

/// Protective limits of the engine; a test may lower them.
struct EngineLimits {
    std::size_t maxHeaderBytes = 16 * 1024;           ///< larger request heads are refused with 413
    std::size_t maxBodyBytes = 16 * 1024 * 1024;      ///< larger request bodies are refused with 413
    std::chrono::milliseconds requestTimeout{30000};  ///< a started request (or TLS handshake) must complete
    std::chrono::milliseconds idleTimeout{60000};     ///< an idle HTTP connection is closed; a silent
                                                      ///< WebSocket peer is pinged, then dropped
    /// Open connections at most; one more is closed as soon as it is accepted. A connection costs about
    /// 2 kB until its first bytes and about 45 kB once TLS is up, so the cap bounds memory near 700 MB.
    std::size_t maxConnections = 16384;
    /// Bytes queued for one WebSocket peer at most; a peer that does not read is dropped beyond it.
    std::size_t maxWebSocketQueueBytes = 4 * 1024 * 1024;
    /// A larger WebSocket message closes its connection (1009); page messages are small JSON texts.
    std::size_t maxWebSocketMessageBytes = 1024 * 1024;
};

class mg_connection;
class mg_mgr;
class Session;
struct ManagerImpl;

using mg_event_handler_t = std::function<void(mg_connection*, int event, void* eventData)>;

/// Options of `mg_mgr::bind`.
struct mg_bind_opts {
    void* user_data = nullptr;  ///< given to the listener and every connection it accepts
    /// PEM file: the certificate, the chain after it, optionally a DH PARAMETERS block, and the key when
    /// ssl_key is null. Null or empty: no TLS. Failures: "Invalid SSL cert", "Invalid SSL key",
    /// "Invalid CA bundle".
    const char* ssl_cert = nullptr;
    const char* ssl_key = nullptr;        ///< PEM file with the private key
    std::string* error_string = nullptr;  ///< receives the reason of a failure
};

/// One listening or accepted connection.
class mg_connection {
public:
    mg_connection(const mg_connection&) = delete;
    mg_connection& operator=(const mg_connection&) = delete;
    ~mg_connection();

    void* user_data = nullptr;         ///< the handler's own data (inherited from the listener)
    unsigned long flags = 0;           ///< MG_F_* bits
    std::uint32_t request_number = 0;  ///< free for the server: the number of the request being answered

    /// The listener that accepted this connection (null for a listener).
    mg_connection* listener() const { return m_listener; }
    /// The peer as "address:port" (for a listener: the bound address and port).
    const std::string& peerAddress() const { return m_peerAddress; }
    /// The peer's port in host order (for a listener: the bound port).
    std::uint16_t remotePort() const { return m_remotePort; }
    /// The local (listening) address as text.
    const std::string& localAddress() const { return m_localAddress; }
    /// Local port in host order (for a listener: the bound port).
    std::uint16_t localPort() const { return m_localPort; }
    /// The manager that owns this connection.
    mg_mgr* manager() const { return m_mgr; }

    /// Queues raw bytes for writing.
    void send(const void* data, std::size_t length);
    void send(std::string_view text) { send(text.data(), text.size()); }
    /// Queues formatted text (fmt syntax: "HTTP/1.1 {} {}\r\n").
    template <typename... Args>
    void sendf(fmt::format_string<Args...> format, Args&&... args) {
        send(fmt::format(format, std::forward<Args>(args)...));
    }
    /// Queues one HTTP chunk; an empty chunk terminates the reply.
    void sendHttpChunk(const void* data, std::size_t length);
    /// Ends a reply that has no body (a reply to HEAD, 1xx, 204, 304) once what is queued is written.
    void endHttpReply();
    /// Queues one WebSocket frame (text, binary, ping or close with its 2-byte code and reason).
    void sendWebSocketFrame(int opcode, const void* data, std::size_t length);
    /// Queues one WebSocket frame whose payload is the concatenation of the parts.
    void sendWebSocketFrameParts(int opcode, const std::vector<std::string_view>& parts);
    /// Queues one WebSocket frame whose payload is the first `headLength` bytes of `head` (shared with
    /// other connections, not copied) followed by `tail`.
    void sendWebSocketFrameShared(int opcode, std::shared_ptr<const std::string> head, std::size_t headLength,
                                  std::string tail);
    /// Marks the connection for immediate close; the close event follows after the current handler.
    void closeImmediately();

private:
    friend class mg_mgr;
    friend struct ManagerImpl;
    friend class Session;
    template <class Stream>
    friend class HttpSession;
    template <class Stream>
    friend class WsSession;
    mg_connection() = default;

    mg_mgr* m_mgr = nullptr;
    mg_connection* m_listener = nullptr;
    std::string m_peerAddress;
    std::string m_localAddress;
    std::uint16_t m_remotePort = 0;
    std::uint16_t m_localPort = 0;
    mg_event_handler_t m_handler;
    std::weak_ptr<Session> m_session;  // empty for listeners
    bool m_closed = false;
};

/// The manager: owns the io_context, the listeners and the connections.
class mg_mgr {
public:
    explicit mg_mgr(void* userData = nullptr, EngineLimits limits = {});
    ~mg_mgr();
    mg_mgr(const mg_mgr&) = delete;
    mg_mgr& operator=(const mg_mgr&) = delete;

    void* userData() const;
    const EngineLimits& limits() const;

    /// Runs the engine for up to `milliseconds` on the calling thread, then raises the poll event on
    /// every connection. Returns early when `wakeUp` is called.
    void poll(int milliseconds);
    /// Makes a running or the next `poll` return at once (any thread).
    void wakeUp();

    /// Binds a listener to "address:port" (port 0 picks a free port). Returns null on failure with the
    /// reason in `opts.error_string`. Accepting starts once the HTTP protocol is attached.
    mg_connection* bind(const std::string& address, mg_event_handler_t handler, const mg_bind_opts& opts);
    /// Attaches HTTP and WebSocket handling to a listener: it starts accepting.
    void setProtocolHttpWebsocket(mg_connection* listener);
    /// Loads a PEM certificate and private key (chain form: the leaf, its key, then the chain
    /// certificates) into a listener's TLS context. False with "invalid ssl cert" on failure.
    bool setSslFromMemory(mg_connection* listener, const std::vector<unsigned char>& pem, bool chainForm,
                          std::string& error);

    /// Calls `fn` on the loop thread once for every open connection (listeners included), each time
    /// with MG_EV_POLL and null data. Any thread.
    void broadcast(std::function<void(mg_connection*, int, void*)> fn);
    /// Runs `fn` once on the loop thread. Any thread.
    void post(std::function<void()> fn);

    /// Loop thread: visits every open connection, listeners included.
    void forEachConnection(const std::function<void(mg_connection*)>& fn);
    /// Loop thread: true while `c` is an open connection of this manager.
    bool isOpen(const mg_connection* c) const;

private:
    friend class mg_connection;
    friend class Session;
    template <class Stream>
    friend class HttpSession;
    template <class Stream>
    friend class WsSession;
    std::unique_ptr<ManagerImpl> m_impl;
};

}  // namespace talvern::engine
