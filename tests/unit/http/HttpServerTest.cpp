#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "http/HttpRouter.h"
#include "http/HttpServer.h"
#include "http/HttpServerContext.h"
#include "http/HttpServerGroup.h"
#include "http/HttpServerManager.h"
#include "http/HttpService.h"
#include "support/TempDir.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"
#include "unit/http/EngineTestSupport.h"
#include "unit/http/FakeHttp.h"

namespace talvern::test {
namespace {

/// The servers' own log files go to a temporary data directory, never the user's, removed at the end.
struct MovedDataHome : ::testing::Environment {
    TempDir dir;
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.str()};
    void TearDown() override { std::filesystem::remove_all(dir.path()); }
};
const auto* const kDataHome = ::testing::AddGlobalTestEnvironment(new MovedDataHome);

TEST(HttpServerContextTest, RefererNormalisationAndOriginOfAUrl) {
    const std::vector<std::pair<std::string, std::string>> referers = {
        {"", ""},
        {"https://portal.example/path/page?x=1", "https://portal.example"},
        {"http://host/", "http://host"},
        {"file:///C:/x", ""},  // no host
        {"ftp//files.example/a", "ftp://files.example"},
        {"HTTPS://Portal.Example:8443/Path", "HTTPS://Portal.Example:8443"},
        {"javascript:alert(1)", ""},
        {"portal.example", ""},
        {" https://leading.space", ""},
    };
    HttpServerContext context;
    for (const auto& [input, expected] : referers) {
        EXPECT_EQ(context.normaliseReferer(input), expected) << input;
    }
    const std::vector<std::pair<std::string, std::string>> origins = {
        {"https://Portal.Example/path?q=1", "https://portal.example:443"},
        {"HTTP://host", "http://host:80"},
        {"http://[::1]:54630/", "http://[::1]:54630"},
        {"https://[FE80::1]/", "https://[fe80::1]:443"},
        {"ftp://files.example:21/a", "ftp://files.example:21"},
    };
    for (const auto& [input, expected] : origins) {
        EXPECT_EQ(context.originOf(input), expected) << input;
    }
    EXPECT_THAT([&] { context.originOf("ftp://files.example/a"); },
                ::testing::ThrowsMessage<std::runtime_error>("Unsupported scheme:ftp with empty port"));
    EXPECT_ANY_THROW(context.originOf("not a url"));
}

TEST(HttpServerChainTest, UrlPatternRule) {
    for (const auto& [pattern, url, applies] : std::vector<std::tuple<std::string, std::string, bool>>{
             {"", "/anything", true},
             {"/a/b", "/a/b", true},
             {"/a/b", "/a", true},
             {"/a/b", "/a/b/c", false},
             {"/a/b", "/x", false},
             {"/a/b", "/b", false}}) {  // a prefix, not any part
        EXPECT_EQ(urlPatternApplies(pattern, url), applies) << pattern << " " << url;
    }
}

/// Records its name; when told to, answers 403 itself and so ends the chain.
class RecordingFilter : public HttpServerFilter {
public:
    RecordingFilter(std::string pattern, std::string name, std::vector<std::string>& trace,
                    bool answers = false)
        : HttpServerFilter(std::move(pattern)), m_name(std::move(name)), m_trace(trace), m_answers(answers) {}
    void doFilter(std::shared_ptr<HttpServerContext> context, std::shared_ptr<IRequest> request,
                  std::shared_ptr<IResponse> response) override {
        m_trace.push_back(m_name);
        if (m_answers) {
            response->setStatus(403);
            response->send(R"({"code":11119003})", true);
            return;
        }
        HttpServerFilter::doFilter(context, request, response);
    }

private:
    std::string m_name;
    std::vector<std::string>& m_trace;
    bool m_answers;
};

class RecordingPreprocessor : public HttpServerPreprocessor {
public:
    RecordingPreprocessor(std::string pattern, std::string name, std::vector<std::string>& trace)
        : HttpServerPreprocessor(std::move(pattern)), m_name(std::move(name)), m_trace(trace) {}
    bool doPreprocess(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest>,
                      std::shared_ptr<IResponse>) override {
        m_trace.push_back(m_name);
        return false;  // a negative outcome does not stop the chain
    }

private:
    std::string m_name;
    std::vector<std::string>& m_trace;
};

/// Records its call.
class RecordingService : public HttpService {
public:
    explicit RecordingService(std::vector<std::string>& trace)
        : HttpService(std::make_shared<HttpServerContext>()), m_trace(trace) {}
    using HttpService::service;
    void service(std::shared_ptr<HttpServerContext>, std::shared_ptr<IRequest>,
                 std::shared_ptr<IResponse>) override {
        m_trace.push_back("service");
    }

private:
    std::vector<std::string>& m_trace;
};

TEST(HttpServerChainTest, PreprocessorsAllRunFiltersCanStopTheRequest) {
    std::vector<std::string> trace;
    RecordingService service(trace);
    service.addPreprocessor(std::make_shared<RecordingPreprocessor>("", "pre1", trace));
    service.addPreprocessor(std::make_shared<RecordingPreprocessor>("/only/here", "pre2", trace));
    service.addFilter(std::make_shared<RecordingFilter>("", "f1", trace));
    service.addFilter(std::make_shared<RecordingFilter>("/v1/secret", "guard", trace, true));
    service.addFilter(std::make_shared<RecordingFilter>("/v1/x", "f3", trace));

    FakeResponse response;
    FakeRequest open("POST", "/v1/open");
    EXPECT_TRUE(service.service(&open, &response));
    EXPECT_EQ(trace, (std::vector<std::string>{"pre1", "f1", "service"}));

    trace.clear();
    FakeRequest secret("POST", "/v1/secret");
    service.service(&secret, &response);
    EXPECT_EQ(trace, (std::vector<std::string>{"pre1", "f1", "guard"}));  // answered: no service call
    EXPECT_EQ(response.status, 403);

    trace.clear();
    FakeRequest here("GET", "/only");
    service.service(&here, &response);
    EXPECT_EQ(trace, (std::vector<std::string>{"pre1", "pre2", "f1", "service"}));

    // A filter without a successor only logs.
    RecordingFilter lonely("", "lonely", trace);
    lonely.step(std::make_shared<HttpServerContext>(), std::make_shared<FakeRequest>("GET", "/"),
                std::make_shared<FakeResponse>());
}

TEST(HttpRouterTest, ThreePassesThenServiceUnavailable) {
    HttpRouter router;
    std::string taken;
    auto take = [&](std::string name) { return [&taken, name](IRequest*, IResponse*) { taken = name; }; };
    FakeResponse none;
    FakeRequest early("GET", "/x");
    EXPECT_FALSE(router.route(&early, &none));
    EXPECT_EQ(none.status, 503);
    EXPECT_EQ(none.body, "Service Unavailable");

    ASSERT_TRUE(router.addRoute(".*", HttpRouter::LastResort, take("default")));
    ASSERT_TRUE(router.addRoute("/v1/detect", HttpRouter::Post, take("detect")));
    ASSERT_TRUE(router.addRoute("/v1/getServicePort", HttpRouter::Post, take("port")));
    ASSERT_TRUE(router.addRoute("/v1/any/.*", HttpRouter::AnyMethod, take("any")));
    ASSERT_TRUE(router.addRoute("/v1/head", HttpRouter::Head, take("head")));
    ASSERT_TRUE(router.addRoute(".*", HttpRouter::LastResort, take("second default")));
    EXPECT_FALSE(router.addRoute("([", HttpRouter::Get, take("bad")));
    EXPECT_FALSE(router.addRoute("/x", 7, take("bad")));

    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"POST", "/v1/detect", "detect"},       {"post", "/V1/DETECT", "detect"},
        {"GET", "/v1/detect", "default"},        // registered for POST only
        {"POST", "/v1/detect/more", "default"},  // the whole URL must match
        {"POST", "/v1/getserviceport", "port"}, {"DELETE", "/v1/any/thing", "any"},
        {"OPTIONS", "/nowhere", "default"},     {"HEAD", "/v1/head", "head"},
    };
    for (const auto& [method, url, expected] : cases) {
        FakeRequest request(method, url);
        FakeResponse response;
        taken.clear();
        EXPECT_TRUE(router.route(&request, &response));
        EXPECT_EQ(taken, expected) << method << " " << url;
    }
}

/// A group of one server on an ephemeral port, answering "/echo" with the request's trace id.
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_shared<HttpServer>("127.0.0.1", 0, 1, 0);
        group.addServer("main", server, true);
        group.registerMessageHandler([this](IRequest* request, IResponse* response) {
            ++handled;
            if (std::string_view(request->url()) == "/refuse") {
                return server->commonHandleMessage(request, response);
            }
            response->send(request->traceId(), true);
            return true;
        });
        ASSERT_TRUE(group.registerServerManager(manager));
        manager->start();
    }
    void TearDown() override { manager->stop(); }

    std::shared_ptr<HttpServerManager> manager = std::make_shared<HttpServerManager>();
    std::shared_ptr<HttpServer> server;
    HttpServerGroup group;
    std::atomic<int> handled{0};
};

TEST_F(ServerFixture, CrossOriginHeaderFromAddrOrReferer) {
    group.setReferer("HTTPS://Portal.Example:8443/Some/Path");
    EXPECT_EQ(group.getReferer(), "https://portal.example:8443");
    Client client(server->port());

    auto reply = client.ask(
        post("/echo", R"({"addr":"https://a.example\r\nhttps://b.example","sdpTraceId":"12345678"})"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header("Access-Control-Allow-Origin"), "https://a.example");
    EXPECT_EQ(reply->body, "12345678");
    EXPECT_EQ(reply->header("Content-Type"), "application/json");

    auto allowedOrigin = [&](const std::string& body) {
        const auto answer = client.ask(post("/echo", body));
        return answer ? answer->header("Access-Control-Allow-Origin") : "<no reply>";
    };
    EXPECT_EQ(allowedOrigin("not json"), "https://portal.example:8443");
    EXPECT_EQ(allowedOrigin(R"({"addr":"\r\nhttps://b.example"})"), "<none>");
    group.clearReferer();
    EXPECT_EQ(allowedOrigin(R"({"addr":5})"), "");
}

TEST_F(ServerFixture, PrivateNetworkPreflightIsAnsweredBeforeTheHandlers) {
    Client client(server->port());
    auto reply = client.ask(
        "OPTIONS /echo HTTP/1.1\r\nHost: h\r\nAccess-Control-Request-Private-Network: true\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->header("Access-Control-Allow-Private-Network"), "true");
    EXPECT_EQ(reply->body, "");
    EXPECT_EQ(handled.load(), 0);

    reply = client.ask(
        "OPTIONS /echo HTTP/1.1\r\nHost: h\r\nAccess-Control-Request-Private-Network: yes\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header("Access-Control-Allow-Private-Network"), "<none>");
    EXPECT_EQ(handled.load(), 1);
}

TEST(HttpServerBindTest, PassesOverThePortRangeThenGiveUp) {
    // Two busy ports `gap` apart: the range covers both and ends where the next one would be.
    boost::asio::io_context io;
    using boost::asio::ip::tcp;
    tcp::acceptor first(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    tcp::acceptor second(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    std::uint16_t low = first.local_endpoint().port();
    std::uint16_t high = second.local_endpoint().port();
    if (low > high) {
        std::swap(low, high);
    }
    const auto step = static_cast<std::uint16_t>(high - low);
    const auto end = static_cast<std::uint16_t>(high + step);
    auto manager = std::make_shared<HttpServerManager>();
    auto server = std::make_shared<HttpServer>("127.0.0.1", low, end, step);
    std::vector<std::uint16_t> attempts;
    server->setBindAttemptObserver([&](std::uint16_t port) { attempts.push_back(port); });
    server->setBindPassPause(std::chrono::milliseconds(1));
    std::string error = "unchanged";
    EXPECT_FALSE(server->registerServerManager(manager, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(attempts, (std::vector<std::uint16_t>{low, high, low, high, low, high}));  // never `end`
    EXPECT_EQ(server->port(), 0);

    // In a group the failed server leaves and the default moves to the first remaining one.
    HttpServerGroup group;
    EXPECT_EQ(group.getReferer(), "");
    auto good = std::make_shared<HttpServer>("127.0.0.1", 0, 1, 0);
    group.addServer("busy", server, true);
    group.addServer("good", good, false);
    group.addServer("null", nullptr, false);
    EXPECT_FALSE(group.registerServerManager(manager));
    EXPECT_EQ(group.servers().size(), 1u);
    EXPECT_EQ(group.defaultServer(), good);
    EXPECT_NE(good->port(), 0);
}

TEST(HttpServerManagerTest, PostRunsOnTheLoopOnlyAfterStart) {
    auto manager = std::make_shared<HttpServerManager>();
    engine::mg_bind_opts opts;
    auto* listener = manager->engine()->bind(
        "127.0.0.1:0", [](engine::mg_connection*, int, void*) {}, opts);
    ASSERT_NE(listener, nullptr);
    std::atomic<int> early{0};
    manager->post([&](engine::mg_connection*, int, void*) { ++early; });  // ignored: not started
    manager->start();
    manager->start();  // once only
    std::promise<std::thread::id> ran;
    manager->post([&](engine::mg_connection* c, int, void*) {
        EXPECT_EQ(c, listener);
        EXPECT_TRUE(manager->isLoopThread());
        ran.set_value(std::this_thread::get_id());
    });
    EXPECT_NE(ran.get_future().get(), std::this_thread::get_id());
    EXPECT_FALSE(manager->isLoopThread());
    struct Work : ILoopWork {
        std::promise<void> done;
        void runOnLoop() override { done.set_value(); }
    };
    auto work = std::make_shared<Work>();
    ASSERT_TRUE(manager->schedule(work));  // one piece of work alone still wakes the loop
    EXPECT_EQ(work->done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    manager->stop();
    manager->stop();
    EXPECT_EQ(early.load(), 0);
}

TEST(HttpServerBindTest, AListenerLeftBehindNoLongerReachesItsServer) {
    auto manager = std::make_shared<HttpServerManager>();
    const std::string junk = "-----BEGIN CERTIFICATE-----\nnot a certificate\n-----END CERTIFICATE-----\n";
    auto server = std::make_shared<HttpServer>("127.0.0.1", 0, 1, 0,
                                               std::vector<unsigned char>(junk.begin(), junk.end()));
    std::string error = "unchanged";
    EXPECT_FALSE(server->registerServerManager(manager, error));
    EXPECT_EQ(error, "");
    EXPECT_NE(server->port(), 0);  // bound, but it never accepts in plain text
    server.reset();
    manager->start();
    // The listener still gets poll events; they must not reach the destroyed server. A task that has run
    // shows the loop inside a poll; the wake-up ends it, which hands every connection its poll event, and a
    // second task runs only in the next poll.
    auto loopRan = [&] {
        auto ran = std::make_shared<std::promise<void>>();
        auto once = std::make_shared<std::once_flag>();
        manager->post([ran, once](engine::mg_connection*, int, void*) {
            std::call_once(*once, [&] { ran->set_value(); });
        });
        return ran->get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    };
    ASSERT_TRUE(loopRan());
    manager->engine()->wakeUp();
    ASSERT_TRUE(loopRan());
    manager->stop();
}

}  // namespace
}  // namespace talvern::test
