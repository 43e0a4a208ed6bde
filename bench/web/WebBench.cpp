// The client side of `make bench-web`: one program for the agent and for its peers, so that both are
// measured by the same kind of client (C++, Asio and Beast over TLS, or RESP over a plain socket).
//
//     okavel_web_bench delivery-ws    HTTP_PORT BUS_PORT SAMPLES   push on the bus -> WebSocket frame
//     okavel_web_bench delivery-poll  HTTP_PORT BUS_PORT SAMPLES   push on the bus -> long-poll reply
//     okavel_web_bench delivery-redis REDIS_PORT SAMPLES           PUBLISH -> subscriber
//     okavel_web_bench fanout-agent   HTTP_PORT BUS_PORT SOCKETS ROUNDS   one push, the last socket reached
//     okavel_web_bench fanout-node    NODE_PORT SOCKETS ROUNDS            one trigger, the last socket
//     reached okavel_web_bench hold           HTTP_PORT SOCKETS            opens and subscribes SOCKETS,
//     prints
//                                                                  "held", closes them when stdin ends
//     okavel_web_bench hostile HTTP_PORT BUS_PORT AGENT_PID IDLE OTHERS   IDLE silent connections, OTHERS
//              slow heads, parked polls and WebSockets each, a subscriber that never reads, a 16 MiB
//              message, then rounds of IDLE connect-and-close; detect is asked all along. Prints the
//              agent's RSS at each step; fails when detect went unanswered or the deaf reader stayed.
//     okavel_web_bench silent PORT PID COUNT    COUNT connections that send nothing; prints bytes per
//              connection of PID's RSS, then its RSS before, while held and after they close
//
// Delivery modes print "p50_us P99_us"; fan-out modes print the median time in microseconds until the
// last socket had the event. The program is signed at build time: the agent's bus serves signed
// processes only.

#include <sys/resource.h>
#include <unistd.h>

#include <utility>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "unit/rpc/RpcTestSupport.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;
using WsStream = websocket::stream<TlsStream>;

constexpr const char* kUserAgent = "oKavelTray";  // a native client: trusted, no Origin
constexpr const char* kTopic = "mirnEvent|bench";
constexpr const char* kSubscribe =
    R"({"mode":"request","type":"subscribe","path":"/v1/service/events","sdpTraceId":"0000beef","from":"web","data":{"fromId":0,"pid":0}})";

std::string eventContent(int n) { return R"({"event":"bench","data":{"n":)" + std::to_string(n) + "}}"; }

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(values.size() * p))];
}

ssl::context clientContext() {
    ssl::context ctx(ssl::context::tls_client);
    ctx.set_verify_mode(ssl::verify_none);
    return ctx;
}

void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

/// The bus as a signed process sees it: one Thrift connection over TCP.
class BusPusher {
public:
    explicit BusPusher(std::uint16_t port)
        : m_connection(talvern::test::RpcConnection::tcp(port)), m_bus(m_connection.bus()) {}
    bool push(int n) {
        // Each run is a channel of its own: the bus refuses an event id it has seen from a channel.
        auto event = talvern::test::makeEvent("web-bench-" + std::to_string(::getpid()), ++m_id, kTopic);
        event.body.content = eventContent(n);
        return m_bus->push(event);
    }

private:
    talvern::test::RpcConnection m_connection;
    std::unique_ptr<talvern::rpc::thrift::SdpBroadcastClient> m_bus;
    std::int64_t m_id = 0;
};

/// A blocking WSS client (delivery measurements and the node trigger).
class SyncWebSocket {
public:
    SyncWebSocket(asio::io_context& io, ssl::context& tls, std::uint16_t port) : m_ws(io, tls) {
        beast::get_lowest_layer(m_ws).connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        m_ws.next_layer().handshake(ssl::stream_base::client);
        m_ws.set_option(websocket::stream_base::decorator(
            [](websocket::request_type& request) { request.set(http::field::user_agent, kUserAgent); }));
        m_ws.handshake("127.0.0.1:" + std::to_string(port), "/");
    }
    void send(const std::string& text) { m_ws.write(asio::buffer(text)); }
    /// Ends a read that another thread waits in.
    void cut() {
        beast::error_code ignored;
        beast::get_lowest_layer(m_ws).socket().shutdown(tcp::socket::shutdown_both, ignored);
    }
    std::string read() {
        beast::flat_buffer buffer;
        m_ws.read(buffer);
        return beast::buffers_to_string(buffer.data());
    }

private:
    WsStream m_ws;
};

std::pair<double, double> summary(const std::vector<double>& samples) {
    return {percentile(samples, 0.50), percentile(samples, 0.99)};
}

int deliveryWebSocket(std::uint16_t httpPort, std::uint16_t busPort, int samples) {
    asio::io_context io;
    auto tls = clientContext();
    SyncWebSocket ws(io, tls, httpPort);
    ws.send(kSubscribe);
    ws.read();  // the ready notification
    BusPusher bus(busPort);
    std::vector<double> values;
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        if (!bus.push(i)) {
            std::fprintf(stderr, "push refused\n");
            return 1;
        }
        ws.read();
        values.push_back(micros(Clock::now() - start));
    }
    auto [p50, p99] = summary(values);
    std::printf("%.0f %.0f\n", p50, p99);
    return 0;
}

/// One long poll on a kept-alive TLS connection; returns the reply's "id".
class LongPoller {
public:
    LongPoller(asio::io_context& io, ssl::context& tls, std::uint16_t port)
        : m_stream(io, tls), m_port(port) {
        beast::get_lowest_layer(m_stream).connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        m_stream.handshake(ssl::stream_base::client);
    }
    void send(long long fromId, int timeoutMs) {
        http::request<http::string_body> request{http::verb::post, "/v1/service/events", 11};
        request.set(http::field::host, "127.0.0.1:" + std::to_string(m_port));
        request.set(http::field::user_agent, kUserAgent);
        request.set(http::field::content_type, "application/json");
        request.body() = R"({"data":{"fromId":)" + std::to_string(fromId) + R"(,"timeout":)" +
                         std::to_string(timeoutMs) + "}}";
        request.prepare_payload();
        http::write(m_stream, request);
    }
    long long receive() {
        http::response<http::string_body> reply;
        http::read(m_stream, m_buffer, reply);
        const auto& body = reply.body();
        const auto at = body.rfind("\"id\":");
        return at == std::string::npos ? -1 : std::stoll(body.substr(at + 5));
    }

private:
    TlsStream m_stream;
    beast::flat_buffer m_buffer;
    std::uint16_t m_port;
};

int deliveryLongPoll(std::uint16_t httpPort, std::uint16_t busPort, int samples) {
    asio::io_context io;
    auto tls = clientContext();
    LongPoller poller(io, tls, httpPort);
    poller.send(0, 1);
    long long next = poller.receive();
    BusPusher bus(busPort);
    std::vector<double> values;
    for (int i = 0; i < samples; ++i) {
        poller.send(std::max(next, 1LL), 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // let the poll park first
        const auto start = Clock::now();
        if (!bus.push(i)) {
            std::fprintf(stderr, "push refused\n");
            return 1;
        }
        next = poller.receive();
        values.push_back(micros(Clock::now() - start));
    }
    auto [p50, p99] = summary(values);
    std::printf("%.0f %.0f\n", p50, p99);
    return 0;
}

std::string resp(const std::vector<std::string>& words) {
    std::string out = "*" + std::to_string(words.size()) + "\r\n";
    for (const auto& w : words) {
        out += "$" + std::to_string(w.size()) + "\r\n" + w + "\r\n";
    }
    return out;
}

int deliveryRedis(std::uint16_t port, int samples) {
    asio::io_context io;
    const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
    tcp::socket subscriber(io);
    tcp::socket publisher(io);
    subscriber.connect(endpoint);
    publisher.connect(endpoint);
    subscriber.set_option(tcp::no_delay(true));
    publisher.set_option(tcp::no_delay(true));
    asio::write(subscriber, asio::buffer(resp({"SUBSCRIBE", "bench"})));
    std::string in;
    // "*3 $9 subscribe $5 bench :1": six lines.
    for (int lines = 0; lines < 6;) {
        const std::size_t n = asio::read_until(subscriber, asio::dynamic_buffer(in), "\r\n");
        in.erase(0, n);
        ++lines;
    }
    std::string reply;
    std::vector<double> values;
    for (int i = 0; i < samples; ++i) {
        const std::string content = eventContent(i);
        const std::string message = resp({"message", "bench", content});
        const auto start = Clock::now();
        asio::write(publisher, asio::buffer(resp({"PUBLISH", "bench", content})));
        while (in.size() < message.size()) {
            char chunk[4096];
            in.append(chunk, subscriber.read_some(asio::buffer(chunk)));
        }
        values.push_back(micros(Clock::now() - start));
        in.erase(0, message.size());
        asio::read_until(publisher, asio::dynamic_buffer(reply), "\r\n");  // ":1"
        reply.clear();
    }
    auto [p50, p99] = summary(values);
    std::printf("%.0f %.0f\n", p50, p99);
    return 0;
}

/// Many subscribed WSS clients on one loop thread; counts, per round, the sockets that got the event.
class Crowd {
public:
    Crowd(std::uint16_t port, int size) : m_port(port), m_size(size), m_tls(clientContext()) {}
    ~Crowd() {
        m_io.stop();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    /// Opens and subscribes every client (a bounded number of handshakes at a time).
    bool open() {
        m_thread = std::thread([this] {
            auto guard = asio::make_work_guard(m_io);
            m_io.run();
        });
        for (int i = 0; i < std::min(m_size, kParallelOpens); ++i) {
            asio::post(m_io, [this] { openNext(); });
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(300), [this] {
            return m_ready + m_failed == m_size;
        }) && m_failed == 0;
    }
    int failed() const { return m_failed; }

    /// Runs `trigger`, then waits until every client has a frame; the time of the last arrival.
    double round(const std::function<void()>& trigger) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reached = 0;
        }
        const auto start = Clock::now();
        trigger();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(60), [this] { return m_reached == m_size; })) {
            std::fprintf(stderr, "only %d of %d sockets reached\n", m_reached, m_size);
            return -1;
        }
        return micros(m_lastArrival - start);
    }

    void close() {
        asio::post(m_io, [this] {
            for (auto& client : m_clients) {
                beast::get_lowest_layer(*client).close();
            }
        });
    }

private:
    static constexpr int kParallelOpens = 64;

    void openNext() {
        if (m_started == m_size) {
            return;
        }
        ++m_started;
        auto ws = std::make_shared<WsStream>(m_io, m_tls);
        m_clients.push_back(ws);
        beast::get_lowest_layer(*ws).async_connect(
            tcp::endpoint(asio::ip::make_address("127.0.0.1"), m_port), [this, ws](beast::error_code ec) {
                if (ec) {
                    return fail(ec);
                }
                ws->next_layer().async_handshake(ssl::stream_base::client, [this, ws](beast::error_code ec) {
                    if (ec) {
                        return fail(ec);
                    }
                    ws->set_option(websocket::stream_base::decorator(
                        [](websocket::request_type& r) { r.set(http::field::user_agent, kUserAgent); }));
                    ws->async_handshake("127.0.0.1", "/", [this, ws](beast::error_code ec) {
                        if (ec) {
                            return fail(ec);
                        }
                        ws->async_write(asio::buffer(std::string_view(kSubscribe)),
                                        [this, ws](beast::error_code ec, std::size_t) {
                                            if (ec) {
                                                return fail(ec);
                                            }
                                            read(ws, std::make_shared<beast::flat_buffer>(), true);
                                        });
                    });
                });
            });
    }

    void read(const std::shared_ptr<WsStream>& ws, const std::shared_ptr<beast::flat_buffer>& buffer,
              bool first) {
        ws->async_read(*buffer, [this, ws, buffer, first](beast::error_code ec, std::size_t) {
            if (ec) {
                if (first) {
                    fail(ec);
                }
                return;
            }
            buffer->consume(buffer->size());
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (first) {
                    ++m_ready;
                } else {
                    ++m_reached;
                    m_lastArrival = Clock::now();
                }
            }
            m_changed.notify_all();
            if (first) {
                openNext();
            }
            read(ws, buffer, false);
        });
    }

    void fail(const beast::error_code& ec) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_failed++ == 0) {
                std::fprintf(stderr, "open failed: %s\n", ec.message().c_str());
            }
        }
        m_changed.notify_all();
        openNext();
    }

    std::uint16_t m_port;
    int m_size;
    ssl::context m_tls;
    asio::io_context m_io;
    std::thread m_thread;
    std::vector<std::shared_ptr<WsStream>> m_clients;  // loop thread
    int m_started = 0;                                 // loop thread
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_ready = 0;
    int m_failed = 0;
    int m_reached = 0;
    Clock::time_point m_lastArrival;
};

int fanout(Crowd& crowd, int rounds, const std::function<void(int)>& trigger) {
    if (!crowd.open()) {
        std::fprintf(stderr, "%d sockets failed to open\n", crowd.failed());
        return 1;
    }
    std::vector<double> values;
    for (int i = 0; i < rounds; ++i) {
        const double t = crowd.round([&] { trigger(i); });
        if (t < 0) {
            return 1;
        }
        values.push_back(t);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::printf("%.0f\n", percentile(values, 0.5));
    crowd.close();
    return 0;
}

int hold(std::uint16_t httpPort, int sockets) {
    Crowd crowd(httpPort, sockets);
    if (!crowd.open()) {
        std::fprintf(stderr, "%d sockets failed to open\n", crowd.failed());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    crowd.close();
    return 0;
}

// --- hostile load --------------------------------------------------------------------------------------

long rssKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

tcp::socket rawConnection(asio::io_context& io, std::uint16_t port) {
    tcp::socket socket(io);
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    return socket;
}

/// Closes with a reset, so that rounds of connections leave no TIME_WAIT behind on either side.
void resetClose(tcp::socket& socket) {
    beast::error_code ignored;
    socket.set_option(asio::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
}

/// Asks for detect on a fresh connection every 100 ms while the load runs; counts answers and failures.
class DetectProbe {
public:
    explicit DetectProbe(std::uint16_t port) : m_port(port), m_thread([this] { run(); }) {}
    ~DetectProbe() { stop(); }
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    void print() const {
        std::printf("detect during the load: %d answered, %d failed, slowest %.1f ms\n", m_ok.load(),
                    m_failed.load(), m_slowestUs.load() / 1000.0);
    }
    bool allAnswered() const { return m_failed == 0 && m_ok > 0; }

private:
    void run() {
        auto tls = clientContext();
        while (!m_stop) {
            const auto start = Clock::now();
            try {
                asio::io_context io;
                TlsStream stream(io, tls);
                beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(5));
                beast::get_lowest_layer(stream).connect(
                    tcp::endpoint(asio::ip::make_address("127.0.0.1"), m_port));
                stream.handshake(ssl::stream_base::client);
                http::request<http::string_body> request{http::verb::post, "/v1/detect", 11};
                request.set(http::field::host, "127.0.0.1");
                request.body() = "{}";
                request.prepare_payload();
                http::write(stream, request);
                beast::flat_buffer buffer;
                http::response<http::string_body> reply;
                http::read(stream, buffer, reply);
                if (reply.result_int() == 200 &&
                    reply.body().find("detect successfully") != std::string::npos) {
                    ++m_ok;
                } else {
                    ++m_failed;
                }
            } catch (const std::exception&) {
                ++m_failed;
            }
            const auto us = static_cast<long>(micros(Clock::now() - start));
            if (us > m_slowestUs) {
                m_slowestUs = us;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::uint16_t m_port;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_ok{0};
    std::atomic<int> m_failed{0};
    std::atomic<long> m_slowestUs{0};
    std::thread m_thread;
};

int silentConnections(std::uint16_t port, int pid, int count) {
    asio::io_context io;
    const long before = rssKb(pid);
    std::vector<tcp::socket> silent;
    for (int i = 0; i < count; ++i) {
        silent.push_back(rawConnection(io, port));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long held = rssKb(pid);
    for (auto& s : silent) {
        resetClose(s);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf("%.0f %ld %ld %ld\n", (held - before) * 1024.0 / count, before, held, rssKb(pid));
    return 0;
}

constexpr int kFloodEvents = 1000;  // 16 MB: more than the send queue and the kernel's buffers hold

int hostile(std::uint16_t httpPort, std::uint16_t busPort, int agentPid, int idle, int others) {
    asio::io_context io;
    auto tls = clientContext();
    const long idleRss = rssKb(agentPid);
    std::printf("idle RSS: %ld kB\n", idleRss);
    DetectProbe probe(httpPort);

    std::vector<tcp::socket> silent;
    for (int i = 0; i < idle; ++i) {
        silent.push_back(rawConnection(io, httpPort));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long silentRss = rssKb(agentPid);
    std::printf("%d connections that never start TLS: RSS %ld kB, %.0f bytes each\n", idle, silentRss,
                (silentRss - idleRss) * 1024.0 / idle);

    // Slow heads: TLS is up, then the request head comes one byte a second.
    std::vector<std::unique_ptr<TlsStream>> slow;
    for (int i = 0; i < others; ++i) {
        auto stream = std::make_unique<TlsStream>(io, tls);
        beast::get_lowest_layer(*stream).connect(
            tcp::endpoint(asio::ip::make_address("127.0.0.1"), httpPort));
        stream->handshake(ssl::stream_base::client);
        slow.push_back(std::move(stream));
    }
    std::atomic<bool> dribbling{true};
    std::thread dribbler([&] {
        const std::string head = "POST /v1/detect HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n{}";
        for (std::size_t at = 0; dribbling && at < head.size(); ++at) {
            for (auto& stream : slow) {
                beast::error_code ec;
                asio::write(*stream, asio::buffer(&head[at], 1), ec);
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });

    // A subscriber that never reads, while the bus pushes 16 kB events: its queue is bounded.
    SyncWebSocket deaf(io, tls, httpPort);
    deaf.send(kSubscribe);
    const auto flood = talvern::test::RpcConnection::tcp(busPort);
    const auto floodBus = flood.bus();
    const std::string big(16 * 1024, 'x');
    for (int i = 0; i < kFloodEvents; ++i) {
        auto event = talvern::test::makeEvent("web-bench-flood-" + std::to_string(::getpid()), i + 1, kTopic);
        event.body.content = R"({"event":"big","data":")" + big + "\"}";
        floodBus->push(event);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long floodRss = rssKb(agentPid);
    // Read what reached it; a dropped connection ends, one still held would wait for more.
    std::atomic<std::size_t> deafBytes{0};
    std::atomic<bool> deafEnded{false};
    std::thread reader([&] {
        try {
            for (;;) {
                deafBytes += deaf.read().size();
            }
        } catch (const std::exception&) {
            deafEnded = true;
        }
    });
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!deafEnded && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const bool deafDropped = deafEnded.load();
    deaf.cut();
    reader.join();
    std::printf("a subscriber that never reads, %d events of 16 kB pushed: RSS %ld kB, %s after %zu bytes\n",
                kFloodEvents, floodRss, deafDropped ? "dropped" : "still open", deafBytes.load());

    // One 16 MiB message: the agent refuses it while it comes, or (a server that takes it) says nothing.
    std::string closeText;
    try {
        SyncWebSocket huge(io, tls, httpPort);
        try {
            huge.send(std::string(16 * 1024 * 1024, 'y'));
        } catch (const beast::system_error& e) {
            closeText = "refused while it was sent (" + e.code().message() + ")";
        }
        if (closeText.empty()) {
            // All of it was taken: an answer (a close) may still come; one thread uses the stream at a time.
            std::atomic<bool> answered{false};
            std::thread reader([&] {
                try {
                    huge.read();
                    closeText = "a reply";
                } catch (const beast::system_error& e) {
                    closeText = "answered with " + e.code().message();
                }
                answered = true;
            });
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (!answered && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            const bool timedOut = !answered;
            huge.cut();
            reader.join();
            if (timedOut) {
                closeText = "taken whole, no answer within 10 s";
            }
        }
    } catch (const std::exception& e) {
        closeText = e.what();
    }
    std::printf("a 16 MiB message: %s; RSS %ld kB\n", closeText.c_str(), rssKb(agentPid));

    std::vector<std::unique_ptr<LongPoller>> polls;
    for (int i = 0; i < others; ++i) {
        polls.push_back(std::make_unique<LongPoller>(io, tls, httpPort));
        polls.back()->send(0, 120000);
    }
    Crowd crowd(httpPort, others);
    const bool crowdOpen = crowd.open();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long loadedRss = rssKb(agentPid);
    std::printf("+ %d slow heads, %d parked polls, %d WebSockets (%s): RSS %ld kB\n", others, others, others,
                crowdOpen ? "all subscribed" : "NOT all subscribed", loadedRss);

    dribbling = false;
    dribbler.join();
    probe.stop();
    for (auto& s : silent) {
        resetClose(s);
    }
    for (auto& s : slow) {
        resetClose(beast::get_lowest_layer(*s).socket());
    }
    polls.clear();
    crowd.close();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int total = idle + 3 * others;
    const long afterRss = rssKb(agentPid);
    std::printf("all closed: RSS %ld kB, %.0f bytes per connection above idle\n", afterRss,
                (afterRss - idleRss) * 1024.0 / total);
    for (int round = 1; round <= 10; ++round) {
        std::vector<tcp::socket> wave;
        for (int i = 0; i < idle; ++i) {
            wave.push_back(rawConnection(io, httpPort));
        }
        for (auto& s : wave) {
            resetClose(s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::printf("round %d of %d connect-and-close: RSS %ld kB\n", round, idle, rssKb(agentPid));
    }
    probe.print();
    return probe.allAnswered() && deafDropped ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: okavel_web_bench delivery-ws|delivery-poll HTTP_PORT BUS_PORT SAMPLES\n"
                 "       okavel_web_bench delivery-redis REDIS_PORT SAMPLES\n"
                 "       okavel_web_bench fanout-agent HTTP_PORT BUS_PORT SOCKETS ROUNDS\n"
                 "       okavel_web_bench fanout-node NODE_PORT SOCKETS ROUNDS\n"
                 "       okavel_web_bench hold HTTP_PORT SOCKETS\n"
                 "       okavel_web_bench hostile HTTP_PORT BUS_PORT AGENT_PID IDLE OTHERS\n"
                 "       okavel_web_bench silent PORT PID COUNT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the driver shows each step as it comes
    raiseDescriptorLimit();
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto num = [&](std::size_t i) { return std::stoi(args.at(i)); };
    try {
        const std::string mode = args.empty() ? "" : args[0];
        if (mode == "delivery-ws" && args.size() == 4) {
            return deliveryWebSocket(num(1), num(2), num(3));
        }
        if (mode == "delivery-poll" && args.size() == 4) {
            return deliveryLongPoll(num(1), num(2), num(3));
        }
        if (mode == "delivery-redis" && args.size() == 3) {
            return deliveryRedis(num(1), num(2));
        }
        if (mode == "fanout-agent" && args.size() == 5) {
            BusPusher bus(num(2));
            Crowd crowd(num(1), num(3));
            return fanout(crowd, num(4), [&](int i) { bus.push(i); });
        }
        if (mode == "fanout-node" && args.size() == 4) {
            asio::io_context io;
            auto tls = clientContext();
            SyncWebSocket trigger(io, tls, num(1));  // opened before the clock runs
            Crowd crowd(num(1), num(2));
            return fanout(crowd, num(3), [&](int i) {
                trigger.send(R"({"type":"push","content":)" + eventContent(i) + "}");
            });
        }
        if (mode == "silent" && args.size() == 4) {
            return silentConnections(num(1), num(2), num(3));
        }
        if (mode == "hostile" && args.size() == 6) {
            return hostile(num(1), num(2), num(3), num(4), num(5));
        }
        if (mode == "hold" && args.size() == 3) {
            return hold(num(1), num(2));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "okavel_web_bench: %s\n", e.what());
        return 1;
    }
    return usage();
}
