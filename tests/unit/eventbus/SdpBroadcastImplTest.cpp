// The bus hosted by the agent: numbering, repeats, the ring, long polls, local delivery and broadcast.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <regex>
#include <stdexcept>
#include <thread>

#include "eventbus/SdpBroadcastImpl.h"
#include "support/EventRecorder.h"
#include "support/LogCapture.h"
#include "support/ManualClock.h"

using namespace std::chrono_literals;
using talvern::eventbus::BroadcastIdentify;
using talvern::eventbus::BroadcastPullEvent;
using talvern::eventbus::BroadcastPushEvent;
using talvern::rpc::thrift::SdpBroadcastImpl;
using talvern::rpc::thrift::SdpBroadcastTimings;

namespace {

BroadcastPushEvent event(const std::string& channel, int64_t id, const std::string& topic = "testEvent|ping",
                         const std::string& content = R"({"event":"ping"})") {
    return BroadcastPushEvent{{topic, content}, {channel, id}};
}

// The bus's waits, shortened from 5 s and 1 s.
SdpBroadcastTimings quick() {
    SdpBroadcastTimings timings;
    timings.defaultPullTimeout = 20ms;
    timings.restartPause = 5ms;
    return timings;
}

using Call = talvern::test::EventRecorder::Call;
using HandlerLog = talvern::test::EventRecorder;

const std::regex kUuid("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");

class SdpBroadcastImplTest : public ::testing::Test {
protected:
    talvern::test::LogCapture log;  // first: the bus's constructor logs
    SdpBroadcastImpl bus{quick()};

    BroadcastPullEvent pullFrom(int64_t id, int32_t timeout = 10) {
        BroadcastPullEvent out;
        bus.pull(out, BroadcastIdentify{bus.serverChannel(), id}, timeout);
        return out;
    }
};

}  // namespace

TEST_F(SdpBroadcastImplTest, RepeatedAndOlderIdsOfAChannelAreDiscardedAndIdentifyGivesTheNextId) {
    BroadcastIdentify id;
    bus.identify(id);
    EXPECT_EQ(id, (BroadcastIdentify{bus.serverChannel(), 0}));
    EXPECT_TRUE(bus.push(event("c1", 5)));
    EXPECT_FALSE(bus.push(event("c1", 5)));
    EXPECT_FALSE(bus.push(event("c1", 4)));
    EXPECT_TRUE(bus.push(event("c2", 4)));  // another channel has its own sequence
    EXPECT_TRUE(bus.push(event("c1", 6)));
    bus.identify(id);
    EXPECT_EQ(id.eventID, 3);
    auto pulled = pullFrom(0);
    ASSERT_EQ(pulled.data.size(), 3u);
    EXPECT_EQ(pulled.data[2].origin, (BroadcastIdentify{"c1", 6}));
}

TEST_F(SdpBroadcastImplTest, FirstPullWithAnUnknownChannelGetsTheReadyEventAtOnce) {
    bus.push(event("c", 0));
    bus.push(event("c", 1));
    std::string upper = bus.serverChannel();
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    BroadcastPullEvent sameChannel;  // compared without regard to case
    bus.pull(sameChannel, BroadcastIdentify{upper, 0}, 10);
    ASSERT_EQ(sameChannel.data.size(), 2u);
    EXPECT_EQ(sameChannel.identify.channelID, bus.serverChannel());
    for (const std::string& channel : {std::string(), std::string("someone-else")}) {
        BroadcastPullEvent out;
        bus.pull(out, BroadcastIdentify{channel, 0}, 3600 * 1000);  // would hang if it waited
        EXPECT_EQ(out.identify, (BroadcastIdentify{bus.serverChannel(), 2}));
        ASSERT_EQ(out.data.size(), 1u);
        EXPECT_EQ(out.data[0].body.topic, "statusEvent|eventbus.ready");
        EXPECT_TRUE(
            std::regex_match(out.data[0].body.content,
                             std::regex(R"(\{"event": "eventbus.ready", "steadyTimestamp": [0-9]+\})")))
            << out.data[0].body.content;
        EXPECT_EQ(out.data[0].origin, (BroadcastIdentify{bus.serverChannel(), 0}));
    }
}

TEST_F(SdpBroadcastImplTest, AfterThreeHundredPushesTheRingServesTheNewest256AndAdjustsPullsAhead) {
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(bus.push(event("c", i)));
    }
    const std::string loss = "The event of the service cache is lost for eventchannel";

    auto fromZero = pullFrom(0);
    ASSERT_EQ(fromZero.data.size(), 256u);
    EXPECT_EQ(fromZero.data.front().origin.eventID, 44);
    EXPECT_EQ(fromZero.data.back().origin.eventID, 299);
    EXPECT_EQ(fromZero.identify.eventID, 300);
    EXPECT_FALSE(log.contains(loss));

    auto fromTen = pullFrom(10);
    EXPECT_EQ(fromTen.data, fromZero.data);
    EXPECT_EQ(fromTen.identify.eventID, 300);
    EXPECT_EQ(
        log.count(loss + " " + bus.serverChannel() +
                  "; Reason: The event id(10) of the request is less than the return of the event id44"),
        1);

    auto fromMiddle = pullFrom(298);
    ASSERT_EQ(fromMiddle.data.size(), 2u);
    EXPECT_EQ(fromMiddle.identify.eventID, 300);
    EXPECT_EQ(log.count(loss), 1);

    // Nothing newer: the current id times out empty, an id ahead is brought back to it.
    auto current = pullFrom(300);
    EXPECT_TRUE(current.data.empty());
    EXPECT_EQ(current.identify, (BroadcastIdentify{bus.serverChannel(), 300}));

    auto ahead = pullFrom(400);
    EXPECT_TRUE(ahead.data.empty());
    EXPECT_EQ(ahead.identify.eventID, 300);
}

// Long polls on a clock the test moves: a test knows when a pull waits, and time passes only when it says.
class SdpBroadcastImplWaitTest : public ::testing::Test {
protected:
    static SdpBroadcastTimings timingsOn(std::shared_ptr<talvern::test::ManualClock> clock) {
        SdpBroadcastTimings timings = quick();
        timings.clock = std::move(clock);
        return timings;
    }

    std::shared_ptr<talvern::test::ManualClock> clock = std::make_shared<talvern::test::ManualClock>();
    SdpBroadcastImpl bus{timingsOn(clock)};

    std::future<BroadcastPullEvent> pullLater(int64_t id, int32_t timeout) {
        return std::async(std::launch::async, [this, id, timeout] {
            BroadcastPullEvent out;
            bus.pull(out, BroadcastIdentify{bus.serverChannel(), id}, timeout);
            return out;
        });
    }
};

TEST_F(SdpBroadcastImplWaitTest, APushDuringTheWaitIsReturnedByThePull) {
    bus.push(event("c", 0));
    auto waiting = pullLater(1, 3600 * 1000);
    ASSERT_TRUE(clock->awaitWaits(1));
    bus.push(event("c", 1));
    auto pulled = waiting.get();
    ASSERT_EQ(pulled.data.size(), 1u);
    EXPECT_EQ(pulled.data[0].origin.eventID, 1);
    EXPECT_EQ(pulled.identify.eventID, 2);
}

TEST_F(SdpBroadcastImplWaitTest, AWakeForAnOlderIdDoesNotAnswerThePull) {
    bus.push(event("c", 0));
    auto waiting = pullLater(5, 300);
    ASSERT_TRUE(clock->awaitWaits(1));
    bus.push(event("c", 1));  // id 1 < 5: wakes the pull, which finds nothing and waits again
    ASSERT_TRUE(clock->awaitWaits(2));
    EXPECT_EQ(waiting.wait_for(0s), std::future_status::timeout);
    clock->advance(300ms);
    auto pulled = waiting.get();
    EXPECT_TRUE(pulled.data.empty());
    EXPECT_EQ(pulled.identify.eventID, 2);
}

TEST_F(SdpBroadcastImplWaitTest, StopReleasesWaitingPullsAndLaterPullsDoNotWait) {
    bus.start();
    bus.push(event("c", 0));
    auto waiting = pullLater(1, 3600 * 1000);
    ASSERT_TRUE(clock->awaitWaits(1));
    bus.stop();
    auto released = waiting.get();
    EXPECT_TRUE(released.data.empty());
    EXPECT_EQ(released.identify.eventID, 1);
    EXPECT_TRUE(pullLater(1, 3600 * 1000).get().data.empty());
    EXPECT_EQ(pullLater(0, 3600 * 1000).get().data.size(), 1u);  // events are still served

    bus.start();  // waits again once restarted
    auto again = pullLater(1, 3600 * 1000);
    ASSERT_TRUE(clock->awaitWaits(2));
    bus.push(event("c", 1));
    EXPECT_EQ(again.get().data.size(), 1u);
    bus.stop();
}

TEST_F(SdpBroadcastImplTest, LocalHandlerGetsEveryEventInOrderOnItsOwnThreadAndSurvivesAThrow) {
    EXPECT_TRUE(bus.push(event("c", 0, "a|1", "one")));  // no handler yet: still accepted
    EXPECT_TRUE(log.contains("dispatch event failure; Reason: the broadcast client does not event handler"));
    HandlerLog handled;
    auto inner = handled.handler();
    bus.setEventHandler([&](const char* topic, const char* content) {
        if (std::string(topic) == "a|bad") {
            throw std::runtime_error("module failed");
        }
        return inner(topic, content);
    });
    // Pushed before start: queued, delivered once the thread runs.
    bus.push(event("c", 1, "a|2", "two"));
    ASSERT_TRUE(bus.start());
    ASSERT_TRUE(bus.start());  // already running
    bus.push(event("c", 2, "a|bad", "x"));
    bus.push(event("c", 3, "a|3", "three"));
    bus.push(event("c", 3, "a|dup", "repeat"));
    handled.waitFor(2);
    bus.stop();  // joins the distribution thread: every call it made is recorded
    EXPECT_EQ(handled.waitFor(0), (std::vector<Call>{{"a|2", "two"}, {"a|3", "three"}}));
    auto threads = handled.threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    EXPECT_EQ(
        log.count("the local time distribution thread is abnormal and will be restored in a second; Reason: "
                  "module failed"),
        1);
}

TEST_F(SdpBroadcastImplTest, BroadcastNumbersTheAgentsOwnEventsOnItsChannel) {
    EXPECT_TRUE(bus.broadcast("statusEvent|ready", R"({"event":"ready"})"));
    EXPECT_TRUE(bus.broadcast(static_cast<const char*>("a|b"), static_cast<const char*>(nullptr)));
    talvern::IEventBus& moduleFace = bus;
    EXPECT_TRUE(moduleFace.broadcast("a|c", "{}"));
    auto pulled = pullFrom(0);
    ASSERT_EQ(pulled.data.size(), 3u);
    for (int64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pulled.data[i].origin, (BroadcastIdentify{bus.broadcastChannel(), i}));
    }
    EXPECT_EQ(pulled.data[1].body.content, "");
}

TEST_F(SdpBroadcastImplTest, MalformedContentIsQueuedAndOnlyLoggedAndHighRateTopicsStayOutOfTheInfoLog) {
    EXPECT_TRUE(bus.push(event("c", 0, "a|b", "{broken")));
    EXPECT_TRUE(bus.push(event("c", 1, "a|b", R"({"noEvent":1})")));
    const std::string failure = "Check the event format failure, the global event id is ";
    EXPECT_EQ(log.count(failure), 2);
    EXPECT_TRUE(log.contains(failure + "1, the origin conent is: "));
    EXPECT_TRUE(log.contains("Invalid keyword: required"));

    bus.push(event("c", 2, "mirnEvent|tunnelFlow"));
    bus.push(event("c", 3, "x|selectLineResultV2"));
    bus.push(event("c", 4, "uemApprovalEvent|uploadFileChanged"));
    bus.push(event("c", 5, "a|visible"));
    EXPECT_EQ(pullFrom(0).data.size(), 6u);
    EXPECT_EQ(log.count("Add events to event queues, the global event id is"), 3);
    EXPECT_TRUE(log.contains("Add events to event queues, the global event id is 5, event data is: "));
    bus.broadcast("uemApprovalEvent|downloadFileChanged", "{}");
    bus.broadcast("uemApprovalEvent|other", "{}");
    EXPECT_EQ(log.count("SdpBroadcastImpl broadcast event, topic is: "), 1);
}
