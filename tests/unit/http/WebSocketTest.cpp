#include <gtest/gtest.h>

#include "http/HttpServerContext.h"
#include "http/websocket/WebSocket.h"
#include "http/websocket/WebSocketManager.h"
#include "http/websocket/WebSocketPreprocessor.h"
#include "http/websocket/WebSocketServer.h"
#include "http/websocket/WebSocketServerGroup.h"
#include "http/websocket/WebSocketServerImpl.h"
#include "log/Logger.h"
#include "support/Eventually.h"
#include "support/TestFiles.h"
#include "unit/eventcenter/EventCenterFakes.h"
#include "unit/http/EngineTestSupport.h"

namespace talvern::test {
namespace {

/// What the server's listeners saw, from the loop thread.
struct Seen {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> messages;  // payload, path
    std::vector<std::shared_ptr<IWebSocket>> opened;
    std::vector<std::size_t> leftAtClose;  // the registry's size each close listener saw

    std::shared_ptr<IWebSocket> socket(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex);
        return i < opened.size() ? opened[i] : nullptr;
    }
    std::vector<std::pair<std::string, std::string>> copy() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
};

/// A WebSocket server on an ephemeral loopback port with its own manager.
class WebSocketServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_shared<WebSocketServer>("127.0.0.1", 0, 0, 0);
        server->addListener(IWebSocketServer::NewConnection, [this](std::shared_ptr<IWebSocket> socket) {
            socket->addListener(
                IWebSocket::Event::Message,
                [this](const std::shared_ptr<IWebSocket>&, const std::string& data, const std::string& path) {
                    std::lock_guard<std::mutex> lock(seen.mutex);
                    seen.messages.emplace_back(data, path);
                });
            std::lock_guard<std::mutex> lock(seen.mutex);
            seen.opened.push_back(std::move(socket));
        });
        server->addListener(IWebSocketServer::CloseConnection, [this](std::shared_ptr<IWebSocket>) {
            const std::size_t left = server->registry().size();  // listeners may look into the registry
            std::lock_guard<std::mutex> lock(seen.mutex);
            seen.leftAtClose.push_back(left);
        });
    }
    void start() {
        std::string error;
        ASSERT_TRUE(server->registerServerManager(manager, error));
        manager->start();
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(seen.mutex);
            seen.opened.clear();
        }
        manager->stop();
    }
    std::unique_ptr<WsClient> connect(const std::string& path = "/ws") {
        return std::make_unique<WsClient>(server->port(), path);
    }

    std::shared_ptr<WebSocketManager> manager = std::make_shared<WebSocketManager>();
    std::shared_ptr<WebSocketServer> server;
    Seen seen;
};

using Close = std::pair<int, std::string>;

TEST_F(WebSocketServerTest, VersionedMessagesMustKeepTheirSequence) {
    start();
    auto client = connect();
    ASSERT_TRUE(eventually([&] { return seen.socket(0) != nullptr; }));
    for (const char* text : {R"({"version":1,"seq":0,"path":"/a"})",
                             R"({"seq":7,"path":"/unversioned"})",  // never compared, not counted
                             "plain text", R"({"version":2,"seq":1})",
                             R"({"version":1,"seq":3,"path":"/gap"})", R"({"path":"/after-close"})"}) {
        client->send(text);
    }
    // Once the close handshake is over, every frame sent before it has been through the server.
    EXPECT_EQ(client->receive(), std::nullopt);
    EXPECT_EQ(client->closeReason(), (Close{1007, "The seq field is not continuous"}));
    const auto messages = seen.copy();
    ASSERT_EQ(messages.size(), 4u) << "neither the gap nor what follows it is delivered";
    EXPECT_EQ(messages[0].second, "/a");
    EXPECT_EQ(messages[1].second, "/unversioned");
    EXPECT_EQ(messages[2], (std::pair<std::string, std::string>{"plain text", ""}));
    EXPECT_EQ(messages[3].first, R"({"version":2,"seq":1})");
    // The peer answered the close and went; the server forgets the socket, then tells its listeners.
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(seen.mutex);
        return seen.leftAtClose == std::vector<std::size_t>{0};
    }));
}

TEST_F(WebSocketServerTest, ARefusingChainClosesWith1008AndRegistersNothing) {
    class Refuse : public WebSocketPreprocessor {
    public:
        bool doPreprocess(std::shared_ptr<HttpServerContext>, std::shared_ptr<WebSocket> socket) override {
            socket->setTag(0x10);
            return std::string(socket->url()) != "/refused";
        }
    };
    server->setPreprocessorChain(WebSocketPreprocessor::chain({std::make_shared<Refuse>()}),
                                 std::make_shared<HttpServerContext>());
    start();
    auto refused = connect("/refused");
    EXPECT_EQ(refused->receive(), std::nullopt);
    EXPECT_EQ(refused->closeReason(), (Close{1008, "Insecurity connection"}));
    auto accepted = connect("/fine");
    ASSERT_TRUE(eventually([&] { return seen.socket(0) != nullptr; }));
    EXPECT_EQ(std::dynamic_pointer_cast<WebSocket>(seen.socket(0))->tag(), 0x10)
        << "marks set by the chain stay";
    EXPECT_EQ(std::string(std::dynamic_pointer_cast<WebSocket>(seen.socket(0))->url()), "/fine");
    EXPECT_EQ(server->registry().size(), 1u);

    // The audit line goes to the server's own log.
    const auto& log = server->serverLog();
    ASSERT_NE(log, nullptr);
    log->flush();
    const std::string text = readFile(log->getOptions().filePath);
    EXPECT_NE(text.find(R"("type": "reject", "reason": "Violation of policy"})"), std::string::npos);
}

TEST_F(WebSocketServerTest, StoppingTheGroupResetsEverySocket) {
    auto group = std::make_shared<WebSocketServerGroup>();
    group->addServer("one", server, true);
    start();
    auto first = connect();
    auto second = connect();
    ASSERT_TRUE(eventually([&] { return server->registry().size() == 2; }));
    EXPECT_TRUE(group->stop());
    for (auto* client : {first.get(), second.get()}) {
        EXPECT_EQ(client->receive(), std::nullopt);
        EXPECT_EQ(client->closeReason(), (Close{1001, "Server reset"}));
    }
    EXPECT_EQ(server->registry().size(), 0u);
    std::lock_guard<std::mutex> lock(seen.mutex);
    EXPECT_EQ(seen.leftAtClose.size(), 2u);
}

TEST(WebSocketServerImplTest, BroadcastGoesOnPastASocketThatThrowsAndReachesOnlyTheAudience) {
    WebSocketServerImpl registry;
    auto a = std::make_shared<RecordingSocket>("a:1");
    auto broken = std::make_shared<RecordingSocket>("b:1", true);
    auto c = std::make_shared<RecordingSocket>("c:1");
    auto untrusted = std::make_shared<RecordingSocket>("other:1");
    registry.add(1, a);
    registry.add(2, broken);
    registry.add(3, c);
    registry.add(4, untrusted);
    registry.setAudience([](const IWebSocket& socket) { return socket.peer() != "other:1"; });
    registry.broadcast("hello");
    EXPECT_EQ(a->sent(), std::vector<std::string>{"hello"});
    EXPECT_EQ(c->sent(), std::vector<std::string>{"hello"});
    EXPECT_TRUE(untrusted->sent().empty());
}

}  // namespace
}  // namespace talvern::test
