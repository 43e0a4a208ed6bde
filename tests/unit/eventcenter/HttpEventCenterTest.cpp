#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "eventcenter/HttpEventCenter.h"
#include "support/Eventually.h"
#include "support/ManualClock.h"
#include "support/Timer.h"
#include "unit/eventcenter/EventCenterFakes.h"

namespace talvern::test {
namespace {

using namespace std::chrono_literals;

/// One long poll: its request and the response that records the answer.
struct Poll {
    explicit Poll(const std::string& body) : request("POST", "/v1/service/events", body) {}
    FakeRequest request;
    FakeResponse response;
};

class HttpEventCenterTest : public ::testing::Test {
protected:
    // The default wait is shortened; the timer is this test's own, on a clock the test moves.
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    utilities::Timer timer{clock};
    std::shared_ptr<HttpEventCenter> center = std::make_shared<HttpEventCenter>(timer, 50ms);

    std::unique_ptr<Poll> poll(std::int64_t fromId, std::int64_t timeout) {
        auto p = std::make_unique<Poll>(pollBody(fromId, timeout));
        center->handleLongPoll(&p->request, &p->response);
        return p;
    }
    /// Moves the clock on and returns once every timer entry due by then has run.
    void advance(std::chrono::milliseconds step) { ASSERT_TRUE(advanceAndSettle(timer, *clock, step)); }
};

TEST_F(HttpEventCenterTest, ReplyFormatsAreExact) {
    EXPECT_EQ(HttpEventCenter::eventsReply({}), R"({"code":0,"message":"OK","data":{"events":[],"id":1}})");
    auto a = center->broadcast("mirnEvent|a", R"({"event":"a","data":{"x":[1,2]}})");
    auto b = center->broadcast("mirnEvent|b", R"({"event":"b"})");
    EXPECT_EQ(
        HttpEventCenter::eventsReply({a, b}),
        R"({"code":0,"message":"OK","data":{"events":[{"event":"a","data":{"x":[1,2]}},{"event":"b"}],"id":3}})");
    EXPECT_EQ(center->timeoutReply(), R"({"code":0,"message":"OK","data":{"id":3}})");
}

TEST_F(HttpEventCenterTest, StoredEventsAreAnsweredAtOnce) {
    broadcastNumbered(*center, 1, 7);
    auto p = poll(5, 0);
    ASSERT_EQ(p->response.finished(), 1) << "answered without parking";
    const auto reply = parseReply(p->response.bodies().at(0));
    EXPECT_EQ(reply.events, (std::vector<std::string>{"e5", "e6", "e7"}));
    EXPECT_EQ(reply.id, 8);
    EXPECT_EQ(center->parkedCount(), 0u);

    // Older than the oldest stored: whatever is stored, without notice of the gap.
    auto old = poll(-10, 0);
    EXPECT_EQ(parseReply(old->response.bodies().at(0)).events.size(), 7u);
}

TEST_F(HttpEventCenterTest, PollsWithoutStoredMatchesWaitForTheirTimeOut) {
    // On a fresh center; bad bodies count as fromId 0.
    for (const std::string& body : {pollBody(0, 0), std::string(), std::string("not json"), std::string("{}"),
                                    std::string(R"({"data":"x"})"),
                                    std::string(R"({"data":{"fromId":"abc"}})"), std::string("[1,2]")}) {
        Poll p(body);
        center->handleLongPoll(&p.request, &p.response);
        advance(49ms);
        EXPECT_EQ(p.response.finished(), 0) << body;
        advance(1ms);
        ASSERT_EQ(p.response.finished(), 1) << body;
        EXPECT_EQ(p.response.bodies().at(0), R"({"code":0,"message":"OK","data":{"id":0}})") << body;
    }

    broadcastNumbered(*center, 1, 7);
    // fromId 0 never looks at the store; a fromId past the newest finds nothing. Both end with the
    // time-out reply (it has no "events"), so neither was answered from the store.
    auto fromZero = poll(0, 0);
    auto fromFuture = poll(8, 0);
    auto ownTimeOut = poll(0, 80);  // a poll's own time-out replaces the default
    advance(50ms);
    ASSERT_EQ(fromZero->response.finished() + fromFuture->response.finished(), 2);
    EXPECT_EQ(ownTimeOut->response.finished(), 0);
    advance(30ms);
    EXPECT_EQ(ownTimeOut->response.finished(), 1);
    EXPECT_EQ(fromZero->response.bodies().at(0), R"({"code":0,"message":"OK","data":{"id":8}})");
    EXPECT_EQ(fromFuture->response.bodies().at(0), R"({"code":0,"message":"OK","data":{"id":8}})");
}

TEST_F(HttpEventCenterTest, ABroadcastAnswersEveryParkedPollOnceAndTheirTimersThenDoNothing) {
    broadcastNumbered(*center, 1, 2);
    auto first = poll(0, 400);
    auto second = poll(0, 600);
    center->broadcast("mirnEvent|new", eventContent("new"));
    for (auto* p : {first.get(), second.get()}) {
        ASSERT_EQ(p->response.finished(), 1);
        const auto reply = parseReply(p->response.bodies().at(0));
        EXPECT_EQ(reply.events, std::vector<std::string>{"new"});
        EXPECT_EQ(reply.id, 4);
    }
    advance(700ms);  // past both time-outs
    EXPECT_EQ(first->response.bodies().size(), 1u);
    EXPECT_EQ(second->response.bodies().size(), 1u);
    EXPECT_EQ(center->parkedCount(), 0u);
}

TEST_F(HttpEventCenterTest, LogoutEmptiesTheStoreButIdsGoOn) {
    broadcastNumbered(*center, 1, 4);
    center->broadcast("statusEvent|logout", eventContent("logout"));
    auto p = poll(1, 0);
    const auto reply = parseReply(p->response.bodies().at(0));
    EXPECT_EQ(reply.events, std::vector<std::string>{"logout"});
    EXPECT_EQ(reply.id, 6);
    center->broadcast("logout", eventContent("bare"));
    EXPECT_EQ(parseReply(poll(1, 0)->response.bodies().at(0)).events, std::vector<std::string>{"bare"});
    center->broadcast("statusEvent|logoutX", eventContent("x"));
    EXPECT_EQ(parseReply(poll(1, 0)->response.bodies().at(0)).events.size(), 2u)
        << "only the exact topics clear";
}

TEST_F(HttpEventCenterTest, ParkedPollsAreAnsweredWhenTheCenterGoes) {
    auto p = poll(0, 60000);
    center.reset();
    EXPECT_EQ(p->response.finished(), 1);
    EXPECT_EQ(p->response.bodies().at(0), R"({"code":0,"message":"OK","data":{"id":0}})");
}

TEST_F(HttpEventCenterTest, BroadcastAndTimeOutRacingAnswerEachPollExactlyOnce) {
    std::vector<std::unique_ptr<Poll>> polls;
    std::atomic<bool> done{false};
    std::thread broadcaster([&] {
        while (!done.load()) {
            center->broadcast("mirnEvent|race", eventContent("race"));
            std::this_thread::yield();
        }
    });
    std::thread ticker([&] {  // time-outs fall due while broadcasts run
        while (!done.load()) {
            clock->advance(1ms);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 400; ++i) {
        polls.push_back(poll(0, i % 3));  // 0: the default, 1 and 2 ms
    }
    ASSERT_TRUE(eventually([&] {
        for (const auto& p : polls) {
            if (p->response.finished() == 0) {
                return false;
            }
        }
        return true;
    }));
    done = true;
    broadcaster.join();
    ticker.join();
    advance(100ms);
    for (const auto& p : polls) {
        EXPECT_EQ(p->response.finished(), 1);
        EXPECT_EQ(p->response.bodies().size(), 1u);
    }
}

TEST_F(HttpEventCenterTest, AClientFollowingTheIdsMissesNoEventHoweverBroadcastsAndPollsInterleave) {
    // Each event is broadcast as soon as the client has the one before, so its poll and the broadcast
    // race; a poll parked just after the event was stored would wait out its time-out instead.
    constexpr int kEvents = 1500;
    std::atomic<int> consumed{0};
    std::atomic<bool> stop{false};
    std::thread broadcaster([&] {
        for (int i = 1; i <= kEvents && !stop; ++i) {
            while (consumed.load() < i - 1 && !stop) {
                std::this_thread::yield();
            }
            // A few microseconds more or less each time, to land anywhere in the poll's handling.
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(i % 40);
            while (std::chrono::steady_clock::now() < until) {
            }
            center->broadcast("mirnEvent|n", eventContent("e" + std::to_string(i)));
        }
    });
    std::int64_t next = 1;
    while (next <= kEvents) {
        auto p = poll(next, 60000);
        if (!eventually([&] { return p->response.finished() == 1; }, 5s)) {
            ADD_FAILURE() << "the poll from id " << next << " was not answered";
            break;
        }
        const auto reply = parseReply(p->response.bodies().at(0));
        EXPECT_EQ(reply.events, (std::vector<std::string>{"e" + std::to_string(next)}));
        if (reply.events.size() != 1 || reply.id <= next) {
            break;
        }
        next = reply.id;
        consumed = static_cast<int>(next - 1);
    }
    stop = true;
    broadcaster.join();
}

}  // namespace
}  // namespace talvern::test
