#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <thread>

#include "eventcenter/WebSocketEventCenter.h"
#include "support/LogCapture.h"
#include "support/Timer.h"
#include "unit/eventcenter/EventCenterFakes.h"

namespace talvern::test {
namespace {

using namespace std::chrono_literals;
using portal::ws_events_req::WsEventsReq;

WsEventsReq subscription(std::int64_t fromId, std::int64_t pid = 0, std::string traceId = "abcd1234") {
    WsEventsReq request;
    request.mode = "request";
    request.type = "subscribe";
    request.path = "/v1/service/events";
    request.sdpTraceId = std::move(traceId);
    request.data.fromId = fromId;
    request.data.pid = pid;
    return request;
}

std::int64_t otherPid() { return static_cast<std::int64_t>(::getpid()) + 1; }

class WebSocketEventCenterTest : public ::testing::Test {
protected:
    utilities::Timer timer;
    std::shared_ptr<WebSocketEventCenter> center = std::make_shared<WebSocketEventCenter>(timer, 50ms);
};

TEST_F(WebSocketEventCenterTest, FirstSubscriptionGetsOnlyTheReadyEventInItsExactForm) {
    auto socket = std::make_shared<RecordingSocket>();
    center->addWebSocket(socket, subscription(0));
    ASSERT_EQ(socket->sent().size(), 1u);
    EXPECT_EQ(
        socket->sent()[0],
        "{\"mode\":\"event\",\"type\":\"notify\",\"path\":\"/v1/service/events\",\"sdpTraceId\":\"abcd1234\","
        "\"from\":\"oKavelAgent\",\"data\":{\"events\":[\n{\n    \"event\": \"ready\",\n    \"data\": {\n"
        "        \"channel\": \"websocket\"\n    }\n}\n],\"id\":2}}");

    LogCapture log;
    center->addWebSocket(socket, subscription(1, otherPid()));
    EXPECT_EQ(socket->sent().size(), 1u) << "a second subscription of the same socket sends nothing";
    EXPECT_EQ(
        log.count("[traceid: abcd1234]Websocket(127.0.0.1:5000) multiple requests for event connection, "
                  "no processing"),
        1);
}

TEST_F(WebSocketEventCenterTest, ReadyIdAndReplayFollowFromIdAndPid) {
    broadcastNumbered(*center, 1, 5);
    struct Case {
        std::int64_t fromId;
        std::int64_t pid;
        std::vector<std::string> events;
        std::int64_t id;
    };
    const std::vector<Case> cases = {
        {0, 0, {"ready"}, 6},                                         // ready carries the newest id
        {9, 0, {"ready"}, 6},                                         // nothing at or after 9
        {3, 0, {"ready", "e3", "e4", "e5"}, 6},                       // replay from 3, ready id 0
        {0, otherPid(), {"ready", "e1", "e2", "e3", "e4", "e5"}, 6},  // another agent process: all
        {0, static_cast<std::int64_t>(::getpid()), {"ready"}, 6},     // this process: as asked
    };
    for (const auto& c : cases) {
        auto socket = std::make_shared<RecordingSocket>();
        center->addWebSocket(socket, subscription(c.fromId, c.pid));
        ASSERT_EQ(socket->sent().size(), 1u);
        const auto reply = parseReply(socket->sent()[0]);
        EXPECT_EQ(reply.events, c.events) << c.fromId << " " << c.pid;
        EXPECT_EQ(reply.id, c.id) << c.fromId << " " << c.pid;
    }
}

TEST_F(WebSocketEventCenterTest, BroadcastReachesLiveSubscribersWithTheirOwnHead) {
    auto a = std::make_shared<RecordingSocket>("a:1");
    auto b = std::make_shared<RecordingSocket>("b:1");
    auto broken = std::make_shared<RecordingSocket>("c:1", true);
    auto gone = std::make_shared<RecordingSocket>("d:1");
    center->addWebSocket(a, subscription(0, 0, "aaaaaaaa"));
    center->addWebSocket(broken, subscription(0));
    center->addWebSocket(b, subscription(0, 0, "bbbbbbbb"));
    center->addWebSocket(gone, subscription(0));
    gone.reset();
    center->broadcast("mirnEvent|x", eventContent("x"));
    for (const auto& [socket, trace] : {std::pair{a, "aaaaaaaa"}, std::pair{b, "bbbbbbbb"}}) {
        ASSERT_EQ(socket->sent().size(), 2u);
        EXPECT_EQ(
            socket->sent()[1],
            std::string(R"({"mode":"event","type":"notify","path":"/v1/service/events","sdpTraceId":")") +
                trace + R"(","from":"oKavelAgent","data":{"events":[{"event":"x"}],"id":2}})");
    }
    EXPECT_EQ(center->subscriberCount(), 3u) << "the socket that went is dropped";
}

TEST_F(WebSocketEventCenterTest, AClosedSocketIsForgottenAtOnceAndTheOthersKeepTheirPlace) {
    auto a = std::make_shared<RecordingSocket>("a:1");
    auto b = std::make_shared<RecordingSocket>("b:1");
    auto c = std::make_shared<RecordingSocket>("c:1");
    for (const auto& socket : {a, b, c}) {
        center->addWebSocket(socket, subscription(0));
    }
    center->removeWebSocket(a);  // the last one takes its place
    center->removeWebSocket(a);
    EXPECT_EQ(center->subscriberCount(), 2u);
    center->broadcast("mirnEvent|x", eventContent("x"));
    EXPECT_EQ(a->sent().size(), 1u);  // its ready notification only
    EXPECT_EQ(b->sent().size(), 2u);
    EXPECT_EQ(c->sent().size(), 2u);
    center->addWebSocket(c, subscription(0));  // still known where it moved: a second request is ignored
    EXPECT_EQ(c->sent().size(), 2u);
}

TEST_F(WebSocketEventCenterTest, ASubscriberRacingBroadcastsSeesEveryEventExactlyOnce) {
    constexpr int kEvents = 200;  // below the ring size: a replay of everything is complete
    std::vector<std::shared_ptr<RecordingSocket>> sockets;
    for (int i = 0; i < 20; ++i) {
        sockets.push_back(std::make_shared<RecordingSocket>("s:" + std::to_string(i)));
    }
    std::thread broadcaster([&] { broadcastNumbered(*center, 1, kEvents); });
    for (const auto& socket : sockets) {
        center->addWebSocket(socket, subscription(0, otherPid()));
        std::this_thread::yield();
    }
    broadcaster.join();
    for (const auto& socket : sockets) {
        std::multiset<std::string> seen;
        for (const auto& text : socket->sent()) {
            for (const auto& name : parseReply(text).events) {
                if (name != "ready") {
                    seen.insert(name);
                }
            }
        }
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(kEvents)) << socket->peer();
        for (int i = 1; i <= kEvents; ++i) {
            EXPECT_EQ(seen.count("e" + std::to_string(i)), 1u) << socket->peer() << " e" << i;
        }
    }
}

}  // namespace
}  // namespace talvern::test
