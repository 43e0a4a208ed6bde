#include <gtest/gtest.h>

#include <boost/asio/read.hpp>

#include <future>

#include "support/Eventually.h"
#include "unit/http/EngineTestSupport.h"

namespace talvern::test {
namespace {

using namespace talvern::engine;

/// "/echo" answers "<method> <uri>?<query> <body>" in two chunks; anything else gets no reply.
void echo(mg_connection* c, int event, void* data, EventLog& log) {
    ASSERT_NE(data, nullptr);
    auto* message = event == MG_EV_HTTP_REQUEST ? static_cast<http_message*>(data) : nullptr;
    if (event != MG_EV_POLL && event != MG_EV_RECV && event != MG_EV_SEND) {
        log.add(event);
    }
    if (message != nullptr && message->uri.view() == "/echo") {
        replyChunked(
            c, {std::string(message->method.view()) + " " + std::string(message->uri.view()),
                "?" + std::string(message->query_string.view()) + " " + std::string(message->body.view())});
    }
}

/// The client gets its "/echo" answered.
void expectAnswer(Client& client) {
    auto reply = client.ask(get("/echo"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
}

/// A fresh client still gets its "/echo" answered.
void expectServes(std::uint16_t port) {
    Client good(port);
    expectAnswer(good);
}

class EngineTest : public ::testing::Test {
protected:
    /// Starts the loop with `handler` (the echo handler when none); the port to connect to.
    std::uint16_t start(EngineLimits limits = {}, EngineHarness::Handler handler = nullptr) {
        if (!handler) {
            handler = [this](mg_connection* c, int ev, void* data) { echo(c, ev, data, log); };
        }
        harness.emplace(limits);
        harness->start(std::move(handler));
        harness->run();
        return harness->port;
    }

    EventLog log;  // declared first: outlives the loop that writes to it
    std::optional<EngineHarness> harness;
};

TEST_F(EngineTest, KeepAliveCarriesSeveralChunkedRepliesOnOneConnection) {
    Client client(start());
    auto first = client.ask(get("/echo?a=1"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 200);
    EXPECT_EQ(first->body, "GET /echo?a=1 ");

    auto second = client.ask(post("/echo", "{\"k\":\"%s %d\"}"));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->body, "POST /echo? {\"k\":\"%s %d\"}");

    // Two requests in one write: answered one after the other, in order.
    auto third = client.ask(get("/echo?n=1") + post("/echo?n=2", "xyz"));
    auto fourth = client.read();
    ASSERT_TRUE(third && fourth);
    EXPECT_EQ(third->body, "GET /echo?n=1 ");
    EXPECT_EQ(fourth->body, "POST /echo?n=2 xyz");
    // The pipelined pair was taken while a read was pending: what comes next is read where it belongs.
    auto fifth = client.ask(get("/echo?n=3"));
    ASSERT_TRUE(fifth);
    EXPECT_EQ(fifth->body, "GET /echo?n=3 ");
    // An expectation of 100-continue is answered before the body is sent.
    auto interim =
        client.ask("POST /echo HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n");
    ASSERT_TRUE(interim);
    EXPECT_EQ(interim->status, 100);
    auto sixth = client.ask("body");
    ASSERT_TRUE(sixth);
    EXPECT_EQ(sixth->body, "POST /echo? body");

    client.close();
    ASSERT_TRUE(log.waitForCloses(1));
    std::lock_guard<std::mutex> lock(log.mutex);
    // One accept, six requests, one close: all on the same connection.
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), MG_EV_ACCEPT), 1);
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), MG_EV_HTTP_REQUEST), 6);
    EXPECT_EQ(log.events.back(), MG_EV_CLOSE);
}

TEST_F(EngineTest, RequestMessageExposesHeadersAndChunkedBodies) {
    std::promise<std::vector<std::pair<std::string, std::string>>> headers;
    std::promise<std::string> body;
    Client client(start({}, [&](mg_connection* c, int ev, void* data) {
        if (ev == MG_EV_HTTP_REQUEST) {
            auto* m = static_cast<http_message*>(data);
            std::vector<std::pair<std::string, std::string>> seen;
            for (int i = 0; i < MG_MAX_HTTP_HEADERS && m->header_names[i].p != nullptr; ++i) {
                seen.emplace_back(m->header_names[i].view(), m->header_values[i].view());
                EXPECT_EQ(m->header_values[i].p == nullptr, m->header_values[i].len == 0);
            }
            headers.set_value(seen);
            body.set_value(std::string(m->body.view()));
            EXPECT_EQ(m->proto.view(), "HTTP/1.1");
            EXPECT_NE(m->message.view().find("Transfer-Encoding: chunked"), std::string_view::npos);
            replyChunked(c, {"ok"});
        }
    }));
    std::string request = "POST /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\nX-Empty:\r\n";
    for (int i = 0; i < 45; ++i) {
        request += "X-H" + std::to_string(i) + ": v" + std::to_string(i) + "\r\n";
    }
    ASSERT_TRUE(client.ask(request + "\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"));
    const auto seen = headers.get_future().get();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(MG_MAX_HTTP_HEADERS));  // the rest is not exposed
    EXPECT_EQ(seen[0].first, "Host");
    EXPECT_EQ(seen[2], std::make_pair(std::string("X-Empty"), std::string()));
    EXPECT_EQ(seen[3], std::make_pair(std::string("X-H0"), std::string("v0")));
    EXPECT_EQ(body.get_future().get(), "abcde");
}

TEST_F(EngineTest, BadRequestsAreRefusedAndTheServerKeepsServing) {
    const auto port = start({.maxHeaderBytes = 1024, .maxBodyBytes = 4096});
    struct Case {
        const char* name;
        std::string request;
        int status;
    };
    const std::vector<Case> cases = {
        {"malformed request line", "GET\r\n\r\n", 400},
        {"garbage", std::string("\x16\x03\x01\x00\xa5", 5) + "\r\n\r\n", 400},
        {"header over the limit", get("/echo", "X-Big: " + std::string(2000, 'a') + "\r\n"), 413},
        {"body one byte over the limit (declared)", post("/echo", std::string(4097, 'b')), 413},
        {"body over the limit (chunked)",
         "POST /echo HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n1388\r\n" +
             std::string(5000, 'c') + "\r\n0\r\n\r\n",
         413},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Client bad(port);
        auto reply = bad.ask(c.request);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status);
        EXPECT_TRUE(bad.closedByServer());

        expectServes(port);
    }
    // Exactly at the body limit is still accepted.
    Client edge(port);
    auto reply = edge.ask(post("/echo", std::string(4096, 'd')));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
}

TEST_F(EngineTest, SlowAndIdleClientsAreClosedParkedRequestsAndOthersAreServed) {
    using std::chrono::hours, std::chrono::milliseconds;
    // Each time-out is tried while the other is far away, so only the right one can close.
    auto port = start({.requestTimeout = milliseconds(100), .idleTimeout = hours(1)});
    Client slow(port);
    slow.write("GET /echo HTTP/1.1\r\nHost:");  // never finishes its request
    EXPECT_TRUE(slow.closedByServer());
    expectServes(port);

    port = start({.requestTimeout = hours(1), .idleTimeout = milliseconds(100)});
    Client parked(port);
    parked.write(get("/parked"));  // the handler keeps it without a reply, as a long poll is kept
    Client idle(port);
    ASSERT_TRUE(idle.ask(get("/echo")));  // then says nothing more
    EXPECT_TRUE(idle.closedByServer());
    // Idle since before the idle client was: still open, as a request awaiting its reply is not idle.
    char byte = 0;
    boost::system::error_code ec;
    parked.socket().non_blocking(true);
    parked.socket().read_some(asio::buffer(&byte, 1), ec);
    EXPECT_EQ(ec, asio::error::would_block);
    expectServes(port);
}

TEST_F(EngineTest, ConnectionsBeyondTheCapAreClosedAtOnce) {
    const auto port = start({.maxConnections = 2});
    std::optional<Client> first(port);
    Client second(port);
    expectAnswer(*first);
    expectAnswer(second);
    Client third(port);
    EXPECT_TRUE(third.closedByServer());
    {
        std::lock_guard<std::mutex> lock(log.mutex);  // the refused one never was a connection of the server
        EXPECT_EQ(std::count(log.events.begin(), log.events.end(), MG_EV_ACCEPT), 2);
    }
    first.reset();  // room again
    ASSERT_TRUE(log.waitForCloses(1));
    expectServes(port);
}

TEST_F(EngineTest, WebSocketPeersAreBoundedInWhatTheyQueueAndSend) {
    const std::string block(16 * 1024, 'q');
    const auto port = start(
        {.maxWebSocketQueueBytes = 256 * 1024, .maxWebSocketMessageBytes = 1000},
        [&](mg_connection* c, int ev, void* data) {
            echo(c, ev, data, log);
            if (ev == MG_EV_WEBSOCKET_FRAME) {
                // "flood me": 8 MiB for a peer that reads nothing, far beyond its queue
                // and the socket buffers; anything else: one block.
                const auto* m = static_cast<websocket_message*>(data);
                const int blocks =
                    std::string_view(reinterpret_cast<const char*>(m->data), m->size) == "flood me" ? 512 : 1;
                for (int i = 0; i < blocks; ++i) {
                    c->sendWebSocketFrame(WEBSOCKET_OP_TEXT, block.data(), block.size());
                }
            }
        });
    WsClient reader(port);  // what a peer reads leaves its queue: 1 MiB passes one block at a time
    for (int i = 0; i < 64; ++i) {
        reader.send("one more");
        ASSERT_EQ(reader.receive().value_or("").size(), block.size()) << i;
    }
    WsClient deaf(port);
    deaf.send("flood me");
    ASSERT_TRUE(log.waitForCloses(1));  // dropped, not queued without end

    WsClient talkative(port);
    talkative.send(std::string(1001, 'm'));
    EXPECT_EQ(talkative.receive(), std::nullopt);
    EXPECT_EQ(talkative.closeReason().first, 1009);  // message too big
    expectServes(port);
}

TEST_F(EngineTest, ConnectionCloseAndHttp10EndTheConnectionAfterTheReply) {
    const auto port = start();
    for (const std::string& request :
         {get("/echo", "Connection: close\r\n"), std::string("GET /echo HTTP/1.0\r\n\r\n")}) {
        Client client(port);
        auto reply = client.ask(request);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->body, "GET /echo? ");
        EXPECT_FALSE(client.ask(get("/echo")));  // the connection serves nothing more
    }
}

TEST_F(EngineTest, ClientLeavingMidReplyIsClosedAndOthersAreServed) {
    const std::string block(64 * 1024, 'z');
    const auto port = start({}, [&](mg_connection* c, int ev, void* data) {
        echo(c, ev, data, log);
        if (ev == MG_EV_HTTP_REQUEST && static_cast<http_message*>(data)->uri.view() == "/big") {
            // 16 MiB: far more than the socket buffers hold, so the write is still going on.
            replyChunked(c, std::vector<std::string>(256, block));
        }
    });
    {
        Client leaving(port);
        leaving.write(get("/big"));
        char some[1024];
        boost::asio::read(leaving.socket(), boost::asio::buffer(some));
        leaving.close();
    }
    ASSERT_TRUE(log.waitForCloses(1));
    expectServes(port);
}

}  // namespace
}  // namespace talvern::test
