// The per-connection sessions: HTTP/1.1 with keep-alive over a plain or TLS socket, upgraded to a
// WebSocket session on request. Beast parses and frames; this file decides when to read, write, time
// out and close, and turns what happens into engine events on the loop thread.

#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <type_traits>

#include "http/engine/EngineImpl.h"
#include "log/Log.h"

namespace talvern::engine {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using Request = http::request<http::string_body>;
using SslStream = beast::ssl_stream<tcp::socket>;

namespace {

constexpr const char* kTag = "HttpServer";
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kIdleReadChunk = 4 * 1024;

mg_str strOf(std::string_view text) { return mg_str{text.data(), text.size()}; }

mg_str strOf(beast::string_view text) { return mg_str{text.data(), text.size()}; }

/// Points `message` at the parts of `request`; `raw` is the request as received.
void fillMessage(http_message& message, const Request& request, std::string_view raw) {
    message = http_message{};
    message.message = strOf(raw);
    message.method = strOf(request.method_string());
    const beast::string_view target = request.target();
    const auto question = target.find('?');
    message.uri = strOf(target.substr(0, question));
    if (question != beast::string_view::npos) {
        message.query_string = strOf(target.substr(question + 1));
    }
    message.proto = strOf(std::string_view(request.version() == 10 ? "HTTP/1.0" : "HTTP/1.1"));
    message.body = strOf(std::string_view(request.body()));
    int slot = 0;
    for (const auto& field : request) {
        if (slot == MG_MAX_HTTP_HEADERS) {
            break;
        }
        message.header_names[slot] = strOf(field.name_string());
        // An empty value is reported as an absent one: a present value always has a length.
        if (!field.value().empty()) {
            message.header_values[slot] = strOf(field.value());
        }
        ++slot;
    }
}

const char* refusalFor(const beast::error_code& ec) {
    if (ec == http::error::header_limit || ec == http::error::body_limit ||
        ec == http::error::buffer_overflow) {
        return "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    return "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// WebSocket

template <class Stream>
class WsSession final : public Session {
public:
    WsSession(ManagerImpl& mgr, std::shared_ptr<mg_connection> record, Stream stream, Request request,
              std::string raw, std::shared_ptr<asio::ssl::context> tls)
        : Session(mgr, std::move(record)),
          m_tls(std::move(tls)),
          m_ws(std::in_place, std::move(stream)),
          m_closeTimer(mgr.io),
          m_request(std::move(request)),
          m_raw(std::move(raw)) {}

    void start() override {
        // A quiet peer is pinged half-way through the idle time and dropped when nothing at all comes
        // back, so live but silent pages stay while dead peers go.
        m_ws->set_option(
            websocket::stream_base::timeout{m_mgr.limits.requestTimeout, m_mgr.limits.idleTimeout, true});
        m_ws->read_message_max(m_mgr.limits.maxWebSocketMessageBytes);
        m_ws->async_accept(m_request, [self = shared()](const beast::error_code& ec) { self->onAccept(ec); });
    }

    void write(std::string_view) override {
        OKV_LOG_TAG_DEBUG(kTag, "raw bytes for WebSocket connection {} dropped", m_record->peerAddress());
    }

    void writeFrame(int opcode, std::string payload) override {
        enqueue(Frame{opcode, nullptr, 0, std::move(payload)});
    }

    void writeSharedFrame(int opcode, std::shared_ptr<const std::string> head, std::size_t headLength,
                          std::string tail) override {
        enqueue(Frame{opcode, std::move(head), headLength, std::move(tail)});
    }

protected:
    void shutdownTransport() override {
        m_closeTimer.cancel();
        if (m_ws) {
            beast::error_code ignored;
            beast::get_lowest_layer(*m_ws).close(ignored);
        }
    }

private:
    /// One queued frame: its payload is the shared head (the same text for many sockets) and its own tail.
    struct Frame {
        int opcode;
        std::shared_ptr<const std::string> head;
        std::size_t headLength;
        std::string tail;
        std::size_t size() const { return headLength + tail.size(); }
    };

    std::shared_ptr<WsSession> shared() { return std::static_pointer_cast<WsSession>(shared_from_this()); }

    void enqueue(Frame frame) {
        if (m_closing || closed()) {
            return;
        }
        if (frame.opcode == WEBSOCKET_OP_CLOSE) {
            m_closing = true;
        } else if (m_queuedBytes + frame.size() > m_mgr.limits.maxWebSocketQueueBytes) {
            // A peer that does not read would make the queue grow without end.
            OKV_LOG_TAG_WARN(kTag, "{}; Reason: {} bytes are queued for {}, at most {} are kept",
                             "websocket connection dropped", m_queuedBytes + frame.size(),
                             m_record->peerAddress(), m_mgr.limits.maxWebSocketQueueBytes);
            m_closing = true;
            m_record->closeImmediately();
            return;
        }
        m_queuedBytes += frame.size();
        m_queue.push_back(std::move(frame));
        if (!m_writing && m_accepted) {
            writeNext();
        }
    }

    void onAccept(const beast::error_code& ec) {
        if (closed()) {
            return;
        }
        if (ec) {
            OKV_LOG_TAG_DEBUG(kTag, "WebSocket handshake with {} failed: {}", m_record->peerAddress(),
                              ec.message());
            close();
            return;
        }
        m_accepted = true;
        m_record->flags |= MG_F_IS_WEBSOCKET;
        fillMessage(m_message, m_request, m_raw);
        dispatch(MG_EV_WEBSOCKET_HANDSHAKE_DONE, &m_message);
        // The handler has copied what it keeps of the upgrade request.
        m_message = http_message{};
        m_request = Request{};
        std::string().swap(m_raw);
        doRead();
        if (!m_writing && !m_queue.empty()) {
            writeNext();
        }
    }

    void doRead() {
        if (closed()) {
            return;
        }
        m_ws->async_read(m_buffer,
                         [self = shared()](const beast::error_code& ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(const beast::error_code& ec) {
        if (ended(ec)) {
            return;
        }
        const auto data = m_buffer.data();
        websocket_message frame;
        frame.data = static_cast<const unsigned char*>(data.data());
        frame.size = data.size();
        frame.flags = static_cast<unsigned char>(m_ws->got_text() ? WEBSOCKET_OP_TEXT : WEBSOCKET_OP_BINARY);
        dispatch(MG_EV_WEBSOCKET_FRAME, &frame);
        m_buffer.consume(m_buffer.size());
        if (m_buffer.capacity() > kIdleReadChunk) {
            m_buffer.shrink_to_fit();  // a big message does not keep its memory on the socket
        }
        doRead();
    }

    void writeNext() {
        if (closed() || m_queue.empty()) {
            return;
        }
        m_writing = true;
        const Frame& frame = m_queue.front();
        auto done = [self = shared()](const beast::error_code& ec, std::size_t = 0) { self->onWrite(ec); };
        const std::string_view head =
            frame.head ? std::string_view(frame.head->data(), frame.headLength) : std::string_view();
        switch (frame.opcode) {
            case WEBSOCKET_OP_CLOSE: {
                const std::string& payload = frame.tail;
                websocket::close_reason reason;
                if (payload.size() >= 2) {
                    reason.code = static_cast<std::uint16_t>((static_cast<unsigned char>(payload[0]) << 8) |
                                                             static_cast<unsigned char>(payload[1]));
                    reason.reason = payload.substr(2, 123);  // a control frame carries at most 125 bytes
                } else {
                    reason.code = websocket::close_code::normal;
                }
                m_ws->async_close(reason, done);
                awaitClosingHandshake();
                break;
            }
            case WEBSOCKET_OP_PING:
                m_ws->async_ping(websocket::ping_data(frame.tail.substr(0, 125).c_str()), done);
                break;
            case WEBSOCKET_OP_PONG:
                m_ws->async_pong(websocket::ping_data(frame.tail.substr(0, 125).c_str()), done);
                break;
            default:
                m_ws->text(frame.opcode == WEBSOCKET_OP_TEXT);
                m_ws->async_write(std::array<asio::const_buffer, 2>{asio::buffer(head.data(), head.size()),
                                                                    asio::buffer(frame.tail)},
                                  done);
                break;
        }
    }

    void onWrite(const beast::error_code& ec) {
        m_writing = false;
        if (closed()) {
            return;
        }
        const std::size_t bytes = m_queue.front().size();
        const bool wasClose = m_queue.front().opcode == WEBSOCKET_OP_CLOSE;
        m_queuedBytes -= std::min(m_queuedBytes, bytes);
        m_queue.pop_front();
        if (ec) {
            close();
            return;
        }
        int sent = static_cast<int>(bytes);
        dispatch(MG_EV_SEND, &sent);
        if (wasClose) {
            // The pending read ends with "closed" once the peer answers; that raises the close event.
            return;
        }
        writeNext();
    }

    /// Bounds the closing handshake. Beast can wait on itself there: its close waits for the pending
    /// read, and a read that fails on a bad frame meanwhile waits for the close to finish writing. The
    /// stream's own timer then closes the socket but wakes neither, so the connection would never end
    /// and the suspended operations would keep this session alive for good.
    void awaitClosingHandshake() {
        m_closeTimer.expires_after(m_mgr.limits.requestTimeout);
        m_closeTimer.async_wait([self = shared()](const beast::error_code& ec) {
            if (ec || self->closed()) {
                return;
            }
            OKV_LOG_TAG_DEBUG(kTag, "WebSocket connection {} did not finish its closing handshake",
                              self->m_record->peerAddress());
            self->close();
            self->m_ws.reset();  // frees the operations the stream keeps suspended, and their hold on us
        });
    }

    std::shared_ptr<asio::ssl::context> m_tls;      // outlives the stream that uses it
    std::optional<websocket::stream<Stream>> m_ws;  // reset only when a closing handshake is stuck
    asio::steady_timer m_closeTimer;
    Request m_request;
    std::string m_raw;
    http_message m_message;
    beast::flat_buffer m_buffer;
    std::deque<Frame> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_accepted = false;
    bool m_writing = false;
    bool m_closing = false;
};

// ---------------------------------------------------------------------------------------------------
// HTTP

template <class Stream>
class HttpSession final : public Session {
public:
    static constexpr bool kTls = std::is_same_v<Stream, SslStream>;

    HttpSession(ManagerImpl& mgr, std::shared_ptr<mg_connection> record, tcp::socket socket,
                std::shared_ptr<asio::ssl::context> tls)
        : Session(mgr, std::move(record)),
          m_tls(std::move(tls)),
          m_socket(std::move(socket)),
          m_timer(mgr.io) {}

    void start() override {
        m_idleSince = Clock::now();
        if constexpr (kTls) {
            // A TLS stream carries two record buffers of 17 kB: it is made once the peer has sent its
            // first bytes, so that connections that never start a handshake stay small.
            m_requestStart = Clock::now();
            updateTimer();
            m_socket.async_wait(tcp::socket::wait_read,
                                [self = shared()](const beast::error_code& ec) { self->onFirstBytes(ec); });
        } else {
            m_stream.emplace(std::move(m_socket));
            m_ready = true;
            doRead();
            updateTimer();
        }
    }

    void write(std::string_view bytes) override {
        if (closed() || m_upgrading) {
            return;
        }
        m_out.append(bytes);
        // Whatever a handler writes in this turn leaves in one write: after the request handler returns,
        // or at the end of the reply, or else in the loop's next turn.
        if (m_ready && !m_writing && !m_flushPosted && !m_inHandler) {
            m_flushPosted = true;
            asio::post(m_mgr.io, [self = shared()] {
                self->m_flushPosted = false;
                if (!self->closed() && !self->m_writing && !self->m_out.empty()) {
                    self->startWrite();
                }
            });
        }
    }

    void endOfReply() override {
        if (!m_awaitingReply) {
            return;
        }
        m_replyEnded = true;
        if (m_writing || !m_ready) {
            return;
        }
        if (!m_out.empty()) {
            startWrite();
        } else {
            // Continue with a pipelined request outside the handler that ended the reply.
            asio::post(m_mgr.io, [self = shared()] {
                if (!self->closed() && self->m_replyEnded && !self->m_writing) {
                    self->onReplyFlushed();
                }
            });
        }
    }

    void writeFrame(int, std::string) override {
        OKV_LOG_TAG_DEBUG(kTag, "WebSocket frame for HTTP connection {} dropped", m_record->peerAddress());
    }

protected:
    void shutdownTransport() override {
        ++m_timerGeneration;
        m_timer.cancel();
        beast::error_code ignored;
        if (m_stream) {
            beast::get_lowest_layer(*m_stream).close(ignored);
        } else {
            m_socket.close(ignored);
        }
    }

private:
    std::shared_ptr<HttpSession> shared() {
        return std::static_pointer_cast<HttpSession>(shared_from_this());
    }
    const EngineLimits& limits() const { return m_mgr.limits; }
    tcp::socket& socket() { return m_stream ? beast::get_lowest_layer(*m_stream) : m_socket; }

    void onFirstBytes(const beast::error_code& ec) {
        if (ended(ec)) {
            return;
        }
        // Readable with nothing to read: the peer went away without a word, and needs no TLS state.
        beast::error_code availableError;
        if (m_socket.available(availableError) == 0) {
            close();
            return;
        }
        if constexpr (kTls) {
            m_stream.emplace(std::move(m_socket), *m_tls);
            m_stream->async_handshake(
                asio::ssl::stream_base::server,
                [self = shared()](const beast::error_code& ec) { self->onHandshake(ec); });
        }
    }

    void onHandshake(const beast::error_code& ec) {
        if (closed()) {
            return;
        }
        if (ec) {
            OKV_LOG_TAG_DEBUG(kTag, "TLS handshake with {} failed: {}", m_record->peerAddress(),
                              ec.message());
            close();
            return;
        }
        m_ready = true;
        m_requestStart.reset();
        m_idleSince = Clock::now();
        if (!m_out.empty()) {
            startWrite();
        }
        doRead();
        updateTimer();
    }

    // Reading ---------------------------------------------------------------------------------------

    /// Reads all the time (so that a peer that goes away is noticed while its reply is computed),
    /// but holds at most one request's worth of bytes.
    void doRead() {
        if (m_reading || closed() || m_upgrading) {
            return;
        }
        if (!m_draining && m_buffer.size() >= limits().maxHeaderBytes + limits().maxBodyBytes + kReadChunk) {
            return;
        }
        // Between requests a connection holds a small buffer; a request that is still arriving reads big.
        std::size_t chunk = kReadChunk;
        if (m_buffer.size() == 0) {
            if (m_buffer.capacity() > kIdleReadChunk) {
                m_buffer.shrink_to_fit();
            }
            chunk = kIdleReadChunk;
        }
        m_reading = true;
        const auto target = m_buffer.prepare(chunk);
        m_readTarget = target.data();
        m_stream->async_read_some(
            target, [self = shared()](const beast::error_code& ec, std::size_t n) { self->onRead(ec, n); });
    }

    void onRead(const beast::error_code& ec, std::size_t n) {
        m_reading = false;
        if (closed()) {
            return;
        }
        if (m_upgrading) {
            upgrade();
            return;
        }
        if (ec) {
            close();
            return;
        }
        // A request answered while this read was pending may have taken every byte, and a flat buffer then
        // starts over at its front: what arrived moves to where the buffer now expects it. The memory is
        // the same allocation (consuming never frees, and the read's bytes still fit).
        const auto expected = m_buffer.prepare(n);
        if (expected.data() != m_readTarget) {
            std::memmove(expected.data(), m_readTarget, n);
        }
        m_buffer.commit(n);
        m_idleSince = Clock::now();
        int received = static_cast<int>(n);
        dispatch(MG_EV_RECV, &received);
        if (m_draining) {
            m_buffer.consume(m_buffer.size());
        } else if (!m_awaitingReply) {
            parse();
        }
        doRead();
        updateTimer();
    }

    void parse() {
        while (!m_awaitingReply && !m_draining && !m_upgrading && !closed()) {
            const auto data = m_buffer.data();
            if (data.size() == m_parsed) {
                return;
            }
            if (!m_parser) {
                m_parser.emplace();
                m_parser->header_limit(static_cast<std::uint32_t>(limits().maxHeaderBytes));
                m_parser->body_limit(limits().maxBodyBytes);
                m_parser->eager(true);
                m_parsed = 0;
                m_continueSent = false;
            }
            if (!m_requestStart) {
                m_requestStart = Clock::now();
            }
            beast::error_code ec;
            const auto* bytes = static_cast<const char*>(data.data());
            const std::size_t used =
                m_parser->put(asio::buffer(bytes + m_parsed, data.size() - m_parsed), ec);
            m_parsed += used;
            if (ec == http::error::need_more) {
                return;
            }
            if (ec) {
                refuse(ec);
                return;
            }
            if (m_parser->is_done()) {
                onRequest();
                continue;
            }
            if (m_parser->is_header_done() && !m_continueSent) {
                const auto expect = m_parser->get()[http::field::expect];
                if (beast::iequals(expect, "100-continue")) {
                    m_continueSent = true;
                    write("HTTP/1.1 100 Continue\r\n\r\n");
                }
            }
            if (used == 0) {
                return;
            }
        }
    }

    void refuse(const beast::error_code& ec) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: {} from {}", "http request refused", ec.message(),
                         m_record->peerAddress());
        closeAfterAnswer();
        write(refusalFor(ec));
    }

    /// Nothing more is parsed: what is queued (and what is written next) goes, then the connection.
    void closeAfterAnswer() {
        m_message = http_message{};
        m_parser.reset();
        m_requestStart.reset();
        m_buffer.consume(m_buffer.size());
        m_parsed = 0;
        m_closeAfterWrite = true;
        m_draining = true;  // whatever else arrives is read and dropped until the peer closes
        m_drainDeadline = Clock::now() + limits().requestTimeout;
    }

    void onRequest() {
        m_requestStart.reset();
        Request& request = m_parser->get();
        const auto raw = static_cast<const char*>(m_buffer.data().data());
        fillMessage(m_message, request, std::string_view(raw, m_parsed));
        if (websocket::is_upgrade(request)) {
            beginUpgrade();
            return;
        }
        m_keepAlive = request.keep_alive();
        m_awaitingReply = true;
        m_replyEnded = false;
        m_inHandler = true;
        dispatch(MG_EV_HTTP_REQUEST, &m_message);
        m_inHandler = false;
        if (m_ready && !m_writing && !m_out.empty() && !closed()) {
            startWrite();
        }
        // The handler has copied what it keeps; the request's bytes go.
        m_message = http_message{};
        m_parser.reset();
        m_buffer.consume(m_parsed);
        m_parsed = 0;
        if ((m_record->flags & MG_F_SEND_AND_CLOSE) != 0) {
            m_closeAfterWrite = true;
            if (!m_writing && m_out.empty()) {
                gracefulClose();
            }
        }
    }

    void onReplyFlushed() {
        m_awaitingReply = false;
        m_replyEnded = false;
        m_idleSince = Clock::now();
        if (m_inflight.capacity() > kReadChunk) {
            std::string().swap(m_inflight);  // a big reply does not keep its memory on the connection
        }
        if (!m_keepAlive) {
            gracefulClose();
            return;
        }
        parse();
        doRead();
        updateTimer();
    }

    // Upgrading -------------------------------------------------------------------------------------

    void beginUpgrade() {
        dispatch(MG_EV_WEBSOCKET_HANDSHAKE_REQUEST, &m_message);
        if (closed() || (m_record->flags & MG_F_CLOSE_IMMEDIATELY) != 0) {
            return;
        }
        if ((m_record->flags & MG_F_SEND_AND_CLOSE) != 0) {
            // The handler refused the upgrade with an answer of its own: no WebSocket comes of it.
            closeAfterAnswer();
            if (!m_writing && m_out.empty()) {
                gracefulClose();
            }
            return;
        }
        m_upgrading = true;
        ++m_timerGeneration;
        m_timer.cancel();
        if (m_reading) {
            // The pending read ends with "aborted" and then the stream moves on (onRead).
            beast::error_code ignored;
            socket().cancel(ignored);
        } else {
            upgrade();
        }
    }

    void upgrade() {
        std::string raw(static_cast<const char*>(m_buffer.data().data()), m_parsed);
        Request request = m_parser->release();
        m_parser.reset();
        auto ws = std::make_shared<WsSession<Stream>>(m_mgr, m_record, std::move(*m_stream),
                                                      std::move(request), std::move(raw), m_tls);
        m_record->m_session = ws;
        ws->start();
    }

    // Writing ---------------------------------------------------------------------------------------

    void startWrite() {
        m_inflight.swap(m_out);
        m_out.clear();
        m_writing = true;
        asio::async_write(
            *m_stream, asio::buffer(m_inflight),
            [self = shared()](const beast::error_code& ec, std::size_t n) { self->onWrite(ec, n); });
    }

    void onWrite(const beast::error_code& ec, std::size_t n) {
        m_writing = false;
        m_inflight.clear();
        if (closed()) {
            return;
        }
        if (ec) {
            close();
            return;
        }
        m_idleSince = Clock::now();
        int sent = static_cast<int>(n);
        dispatch(MG_EV_SEND, &sent);
        if (closed()) {
            return;
        }
        if (!m_out.empty()) {
            startWrite();
            return;
        }
        if (m_closeAfterWrite || (m_record->flags & MG_F_SEND_AND_CLOSE) != 0) {
            gracefulClose();
            return;
        }
        if (m_replyEnded) {
            onReplyFlushed();
            return;
        }
        updateTimer();
    }

    /// Ends the sending side and waits (bounded) for the peer to close, so that it reads the reply.
    void gracefulClose() {
        if (!m_draining) {
            m_draining = true;
            m_drainDeadline = Clock::now() + limits().requestTimeout;
        }
        beast::error_code ignored;
        socket().shutdown(tcp::socket::shutdown_send, ignored);
        m_buffer.consume(m_buffer.size());
        doRead();
        updateTimer();
    }

    // Time limits -----------------------------------------------------------------------------------

    /// When the connection is due to close as things stand; none while a handler owes a reply (long
    /// polls may take as long as they like; a peer that goes away is still noticed by the read).
    std::optional<Clock::time_point> deadline() const {
        if (m_draining) {
            return m_drainDeadline;
        }
        if (m_requestStart) {
            return *m_requestStart + limits().requestTimeout;
        }
        if (m_awaitingReply && !m_replyEnded) {
            return std::nullopt;
        }
        return m_idleSince + limits().idleTimeout;
    }

    /// The timer is moved only when the deadline comes earlier than it is set for; a later deadline is
    /// found when it fires. So a busy kept-alive connection costs no timer update per request.
    void updateTimer() {
        if (closed() || m_upgrading) {
            return;
        }
        const auto due = deadline();
        if (!due || (m_timerArmed && m_timerExpiry <= *due)) {
            return;
        }
        armTimer(*due);
    }

    void armTimer(Clock::time_point expiry) {
        m_timerArmed = true;
        m_timerExpiry = expiry;
        m_timer.expires_at(expiry);
        m_timer.async_wait([self = shared(), generation = ++m_timerGeneration](const beast::error_code& ec) {
            if (!ec && generation == self->m_timerGeneration && !self->closed()) {
                self->m_timerArmed = false;
                self->onTimer();
            }
        });
    }

    void onTimer() {
        if (m_upgrading) {
            return;
        }
        const auto now = Clock::now();
        const auto due = deadline();
        if (due && *due <= now) {
            OKV_LOG_TAG_DEBUG(kTag, "connection {} closed: {}", m_record->peerAddress(),
                              m_draining ? "closing" : (m_requestStart ? "request timeout" : "idle"));
            close();
            return;
        }
        armTimer(due ? *due : now + limits().idleTimeout);
    }

    std::shared_ptr<asio::ssl::context> m_tls;  // outlives the stream that uses it
    tcp::socket m_socket;                       // until the stream is made
    std::optional<Stream> m_stream;
    asio::steady_timer m_timer;
    unsigned m_timerGeneration = 0;
    bool m_timerArmed = false;
    Clock::time_point m_timerExpiry;
    Clock::time_point m_idleSince;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::size_t m_parsed = 0;      // bytes of m_buffer already given to the parser
    void* m_readTarget = nullptr;  // where the pending read writes
    http_message m_message;
    std::optional<Clock::time_point> m_requestStart;
    Clock::time_point m_drainDeadline;
    std::string m_out;
    std::string m_inflight;
    bool m_ready = false;  // TLS handshake done (always true for plain sockets)
    bool m_reading = false;
    bool m_writing = false;
    bool m_flushPosted = false;
    bool m_inHandler = false;      // the request handler runs: its writes wait until it returns
    bool m_awaitingReply = false;  // a request was delivered and its reply has not been written
    bool m_replyEnded = false;     // the terminating chunk of the reply is queued
    bool m_keepAlive = true;
    bool m_closeAfterWrite = false;
    bool m_draining = false;
    bool m_continueSent = false;
    bool m_upgrading = false;
};

// ---------------------------------------------------------------------------------------------------

void ManagerImpl::onAccepted(const std::shared_ptr<ListenerState>& listener, tcp::socket socket) {
    std::shared_ptr<asio::ssl::context> tls;
    {
        std::lock_guard<std::mutex> lock(listener->mutex);
        tls = listener->tls;
    }
    beast::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    if (ec) {
        return;  // the peer is already gone
    }
    if (acceptedCount() >= limits.maxConnections) {
        if (!reportedAtCap) {
            OKV_LOG_TAG_WARN(kTag, "{}; Reason: {} connections are open, the most the server keeps",
                             "new connections are refused", limits.maxConnections);
            reportedAtCap = true;
        }
        socket.close(ec);
        return;
    }
    reportedAtCap = false;
    peakOpen = std::max(peakOpen, acceptedCount() + 1);
    socket.set_option(tcp::no_delay(true), ec);
    auto record = std::shared_ptr<mg_connection>(new mg_connection());
    record->m_mgr = owner;
    record->m_listener = listener->record.get();
    record->user_data = listener->record->user_data;
    record->m_handler = listener->record->m_handler;
    record->m_peerAddress = remote.address().to_string() + ":" + std::to_string(remote.port());
    record->m_remotePort = remote.port();
    record->m_localPort = listener->record->m_localPort;
    record->m_localAddress = listener->record->m_localAddress;
    std::shared_ptr<Session> session;
    if (tls) {
        record->flags |= MG_F_SSL;
        session = std::make_shared<HttpSession<SslStream>>(*this, record, std::move(socket), tls);
    } else {
        session = std::make_shared<HttpSession<tcp::socket>>(*this, record, std::move(socket), nullptr);
    }
    record->m_session = session;
    add(record);
    std::string peer = record->m_peerAddress;
    dispatch(record.get(), MG_EV_ACCEPT, &peer);
    if (!record->m_closed) {
        session->start();
    }
}

}  // namespace talvern::engine
