#include <gtest/gtest.h>

#include <thread>

#include "HttpClient.h"
#include "WebAgentTest.h"
#include "unit/eventcenter/EventReplies.h"
#include "unit/rpc/RpcTestSupport.h"

using talvern::test::contains;
using talvern::test::HttpClient;
using talvern::test::parseReply;
using talvern::test::pollBody;
using talvern::test::RpcConnection;

namespace {

// The core host with the bus and the web servers ("--plugin plugins/oKavelCore -e --enable-http"): it
// announces itself on the bus, and every forwarded bus event reaches long polls and subscribed sockets.
class WebEvents : public talvern::test::WebAgentTest {
protected:
    void SetUp() override {
        startAgent({"--plugin", "plugins/oKavelCore", "-e", "--enable-http"});
        ASSERT_TRUE(talvern::test::eventually([&] { return tcpPort() != 0; }));
    }
    std::uint16_t httpPort() const { return port(); }
    std::uint16_t tcpPort() const { return port("var/run/plugins/oKavelCore/thrift"); }

    // The events route is not on the whitelist: the poll comes from one of the client's own programs.
    talvern::test::HttpReply poll(std::int64_t fromId, std::int64_t timeout) const {
        return HttpClient::once(httpPort(), "POST", "/v1/service/events", pollBody(fromId, timeout),
                                {{"User-Agent", "oKavelTray/1.0"}});
    }
    void push(std::int64_t id, const std::string& topic, const std::string& content) {
        auto event = talvern::test::makeEvent("web-events-test", id, topic);
        event.body.content = content;
        ASSERT_TRUE(RpcConnection::tcp(tcpPort()).bus()->push(event));
    }
};

// Reads messages until one carries the pushed event and returns it. The agent's own ready event reaches
// the event center shortly after start: a socket subscribed before that gets it pushed live first.
std::string readUntilPushed(HttpClient& client, int& readyBefore) {
    for (;;) {
        std::string text = client.readText();
        const auto events = parseReply(text).events;
        if (events.empty() || events == std::vector<std::string>{"pushed"}) {
            return text;  // the caller's check shows what came instead
        }
        EXPECT_EQ(events, std::vector<std::string>{"ready"}) << text;
        ++readyBefore;
    }
}

}  // namespace

TEST_F(WebEvents, LongPollsReceiveTheReadyEventThenPushedEvents) {
    // The ready announcement may come after the first poll: then the poll waits for it.
    talvern::test::ParsedReply ready;
    ASSERT_TRUE(talvern::test::eventually([&] {
        ready = parseReply(poll(1, 2000).body());
        return !ready.events.empty();
    }));
    EXPECT_EQ(ready.events, std::vector<std::string>{"ready"});
    EXPECT_EQ(ready.id, 2);

    // The next poll asks from the id it was given: parked until the next forwarded event, or answered at
    // once if that event came first. Events the forwarding rule blocks never reach it.
    talvern::test::HttpReply parked;
    std::thread poller([&] { parked = poll(ready.id, 20000); });
    push(1, "aclEvent|aclUemStatusOnline", R"({"event":"blocked"})");
    push(2, "mirnEvent|webEventsTest", R"({"event":"pushed","data":{"n":1}})");
    poller.join();
    const auto pushed = parseReply(parked.body());
    EXPECT_EQ(pushed.events, std::vector<std::string>{"pushed"}) << parked.body();
    EXPECT_EQ(pushed.id, 3);
}

// The ready notification's form, its trace id and the frame numbering are the event center's and the
// WebSocket server's unit tests; the trusted socket below shows bus events reaching a subscriber.
TEST_F(WebEvents, AnUntrustedSocketIsServedButGetsNoEventsAndNoReplay) {
    HttpClient trusted(httpPort());
    HttpClient untrusted(httpPort());
    ASSERT_EQ(trusted.upgrade("/", {{"User-Agent", "oKavelTray/1.0"}}).result_int(), 101);
    ASSERT_EQ(untrusted.upgrade("/", {{"User-Agent", "curl/8"}}).result_int(),
              101);  // no page: not refused, not trusted
    // A foreign agent's pid would earn the whole replay.
    const std::string subscribe =
        R"({"mode":"request","type":"subscribe","path":"/v1/service/events","sdpTraceId":"1234abcd","from":"web","data":{"fromId":1,"pid":1}})";
    ASSERT_TRUE(trusted.sendText(subscribe));
    ASSERT_TRUE(untrusted.sendText(subscribe));
    // The ready notification first, then (once the stored ready event is in) the replay.
    EXPECT_EQ(parseReply(trusted.readText()).events.at(0), "ready");
    EXPECT_TRUE(contains(untrusted.readText(), R"("code":11119003)"));

    push(1, "mirnEvent|webEventsTest", R"({"event":"pushed"})");
    int readyBefore = 0;
    EXPECT_EQ(parseReply(readUntilPushed(trusted, readyBefore)).events, std::vector<std::string>{"pushed"});
    // The socket still talks the message protocol; a push would have come before this pong.
    ASSERT_TRUE(untrusted.sendText(R"({"mode":"heartbeat","type":"ping","path":"/","sdpTraceId":"t"})"));
    EXPECT_TRUE(contains(untrusted.readText(), R"("type":"pong")"));

    ASSERT_TRUE(talvern::test::eventually([&] { return contains(logText(), "is untrust"); }));
    const std::string log = logText();
    EXPECT_TRUE(contains(log, "[traceid: 1234abcd]Websocket(127.0.0.1:"));
    EXPECT_TRUE(contains(log, "event subscription refused; Reason: the connection is untrust"));
}
