#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <condition_variable>
#include <future>

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpServerManager.h"
#include "http/HttpStatus.h"
#include "unit/http/EngineTestSupport.h"
#include "unit/http/FakeHttp.h"

namespace talvern::test {
namespace {

using namespace talvern::engine;

/// A manager with one listener whose handler builds request/response pairs, as the server does,
/// and hands them to the test's callable on the loop thread.
class PairServer {
public:
    using OnPair = std::function<void(HttpRequest*, HttpResponse*)>;

    explicit PairServer(OnPair onPair) : m_onPair(std::move(onPair)) {
        mg_bind_opts opts;
        listener = manager->engine()->bind(
            "127.0.0.1:0", [this](mg_connection* c, int ev, void* data) { onEvent(c, ev, data); }, opts);
        manager->engine()->setProtocolHttpWebsocket(listener);
        port = listener->localPort();
        manager->start();
    }
    ~PairServer() { manager->stop(); }

    std::shared_ptr<HttpServerManager> manager = std::make_shared<HttpServerManager>();
    mg_connection* listener = nullptr;
    std::uint16_t port = 0;
    EventLog events;  // the closes

private:
    void onEvent(mg_connection* c, int ev, void* data) {
        if (ev == MG_EV_HTTP_REQUEST) {
            c->request_number = ++m_counter;
            auto* request = new HttpRequest(static_cast<http_message*>(data), c);
            auto* response = new HttpResponse(request, c, c->request_number, manager);
            m_onPair(request, response);
        } else if (ev == MG_EV_CLOSE) {
            c->request_number = 0;
            events.add(ev);
        }
    }
    OnPair m_onPair;
    std::uint32_t m_counter = 0;
};

/// What a request looked like to a handler.
struct Seen {
    std::string traceId;
    std::map<std::string, std::string> headers;
    std::string url, method, content, hostPort, address, dump, refererText;
    bool originNull = false;
    std::uint16_t port = 0, remotePort = 0;
};

/// Sends `request` and returns what the handler saw; the handler answers on the loop thread.
Seen inspect(const std::string& request) {
    std::promise<Seen> seen;
    PairServer server([&](HttpRequest* req, HttpResponse* resp) {
        Seen s;
        s.traceId = req->traceId();
        s.headers = req->headers();
        s.url = req->url();
        s.method = req->method();
        s.content = req->content();
        s.hostPort = req->origin()->hostPort();
        s.address = req->origin()->address();
        s.port = req->origin()->port();
        s.remotePort = req->remotePort();
        req->toString(s.dump);
        if (const char* r = req->header("Referer")) {
            s.refererText = r;
        }
        s.originNull = req->header("Origin") == nullptr;
        seen.set_value(s);
        resp->send("{}", true);
    });
    Client client(server.port);
    EXPECT_TRUE(client.ask(request));
    auto result = seen.get_future().get();
    EXPECT_EQ(result.port, htons(server.port));
    EXPECT_EQ(result.hostPort, "127.0.0.1:" + std::to_string(server.port));
    EXPECT_EQ(result.remotePort, htons(client.socket().local_endpoint().port()));
    return result;
}

TEST(HttpRequestTest, RefererFallsBackToOriginButNotTheOtherWayRound) {
    const auto onlyOrigin = inspect(get("/h", "Origin: https://a.example\r\n"));
    EXPECT_EQ(onlyOrigin.refererText, "https://a.example");
    const auto onlyReferer = inspect(get("/h", "Referer: https://b.example/p\r\n"));
    EXPECT_EQ(onlyReferer.refererText, "https://b.example/p");
    EXPECT_TRUE(onlyReferer.originNull);
    const auto both = inspect(get("/h", "Origin: https://o\r\nReferer: https://r/\r\n"));
    EXPECT_EQ(both.refererText, "https://r/");
}

TEST(HttpRequestTest, CopiesMethodBodyHeadersAndNormalisesThePath) {
    const auto seen = inspect(
        "POST //v1///detect//x?q=1 HTTP/1.1\r\nHost: h\r\nX-Dup: first\r\nX-Dup: second\r\n"
        "x-dup: lower\r\nContent-Length: 7\r\n\r\n{\"a\":1}");
    EXPECT_EQ(seen.url, "/v1/detect/x");
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.content, "{\"a\":1}");
    EXPECT_EQ(seen.address, "127.0.0.1");
    EXPECT_EQ(seen.headers.at("X-Dup"), "first");  // a repeated name keeps its first value
    EXPECT_EQ(seen.headers.at("x-dup"), "lower");  // names compare byte-wise
    const std::string expected =
        " POST\nheaders:\nkey:Content-Length value:7\nkey:Host value:h\nkey:X-Dup value:first\n"
        "key:x-dup value:lower\nkey:x-sdp-traceid value:" +
        seen.traceId + "\nquery:\nq=1body:\n{\"a\":1}";
    EXPECT_EQ(seen.dump, expected);
}

TEST(HttpResponseTest, RepliesToHeadAnd204And304AreTheHeadAlone) {
    struct Case {
        const char* method;
        int status;
        bool announcesCoding;  // headers as for GET, except that a 204 announces no transfer coding
    };
    for (const Case& c : {Case{"HEAD", 200, true}, Case{"HEAD", 404, true}, Case{"GET", 204, false},
                          Case{"GET", 304, true}}) {
        SCOPED_TRACE(std::string(c.method) + " " + std::to_string(c.status));
        PairServer server([&](HttpRequest* request, HttpResponse* response) {
            const bool first = std::string_view(request->url()) == "/a";
            if (first) {
                response->setStatus(c.status);
            }
            response->send(first ? R"({"a":1})" : "", true);
        });
        Client client(server.port);
        client.write(std::string(c.method) + " /a HTTP/1.1\r\nHost: h\r\n\r\n" + get("/b"));
        auto first = client.read(true);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->status, c.status);
        EXPECT_EQ(first->head.find("Transfer-Encoding: chunked") != std::string::npos, c.announcesCoding);
        // The next reply (with an empty body) follows the head at once: a stray body would be read as
        // its status line.
        auto second = client.read();
        ASSERT_TRUE(second);
        EXPECT_EQ(second->status, 200);
        EXPECT_EQ(second->body, "");
    }
}

TEST(HttpResponseTest, AReplyForAClosedConnectionIsDropped) {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<HttpResponse*> pending;
    PairServer server([&](HttpRequest*, HttpResponse* response) {
        std::lock_guard<std::mutex> lock(mutex);
        pending.push_back(response);
        cv.notify_all();
    });
    auto waitFor = [&](std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return pending.size() >= count; }));
        return pending.back();
    };
    Client gone(server.port);
    gone.write(get("/slow"));
    HttpResponse* stale = waitFor(1);
    gone.close();
    EXPECT_TRUE(server.events.waitForCloses(1));

    Client other(server.port);
    other.write(get("/fresh"));
    HttpResponse* fresh = waitFor(2);
    stale->send("stale", true);  // posted; no open connection carries its number any more
    fresh->send("fresh", true);
    auto reply = other.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "fresh");
}

}  // namespace
}  // namespace talvern::test
