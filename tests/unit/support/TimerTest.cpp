#include "support/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/ManualClock.h"

using talvern::utilities::Timer;
using namespace std::chrono_literals;

namespace {

// A timer on a clock the test moves; what it fired, in order.
class TimerTest : public ::testing::Test {
protected:
    Timer::Callback record(int tag) {
        return [this, tag](Timer&, std::uint32_t) {
            std::lock_guard lock(m_mutex);
            m_fired.push_back(tag);
            m_threads.push_back(std::this_thread::get_id());
        };
    }
    std::vector<int> fired() {
        std::lock_guard lock(m_mutex);
        return m_fired;
    }
    void advance(std::chrono::milliseconds step) {
        ASSERT_TRUE(talvern::test::advanceAndSettle(timer, *clock, step));
    }

    std::shared_ptr<talvern::test::ManualClock> clock = std::make_shared<talvern::test::ManualClock>();
    Timer timer{clock};
    std::mutex m_mutex;
    std::vector<int> m_fired;
    std::vector<std::thread::id> m_threads;
};

}  // namespace

TEST_F(TimerTest, FiresAtItsDeadlineNotBeforeThenInAddOrderOffTheCallersThread) {
    EXPECT_EQ(timer.add(record(6), 30), 1u);
    EXPECT_EQ(timer.add(record(5), 20), 2u);
    timer.add(record(4), 10);
    for (int i = 0; i < 3; ++i) {
        timer.add(record(i), 0);
    }
    timer.add(record(3), -5);  // a negative delay counts as due now
    advance(9ms);
    EXPECT_EQ(fired(), (std::vector<int>{0, 1, 2, 3}));
    advance(1ms);
    EXPECT_EQ(fired(), (std::vector<int>{0, 1, 2, 3, 4}));
    advance(20ms);
    EXPECT_EQ(fired(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    std::lock_guard lock(m_mutex);
    EXPECT_EQ(std::count(m_threads.begin(), m_threads.end(), std::this_thread::get_id()), 0);
}

TEST_F(TimerTest, CancelledEntryNeverFires) {
    auto doomed = timer.add(record(1), 20);
    timer.cancel(doomed);
    timer.cancel(doomed);  // twice is harmless
    timer.cancel(9999);    // unknown too
    timer.add(record(2), 40);
    advance(40ms);
    EXPECT_EQ(fired(), (std::vector<int>{2}));
}

TEST_F(TimerTest, CallbackMayRescheduleItselfAndSeesItsIdAndAThrowStopsNothing) {
    std::uint32_t seen = 0;
    timer.add([](Timer&, std::uint32_t) { throw std::runtime_error("boom"); }, 0);
    std::uint32_t first = timer.add(
        [&](Timer& t, std::uint32_t id) {
            seen = id;
            t.add(record(7), 1);
        },
        1);
    advance(1ms);
    advance(1ms);
    EXPECT_EQ(seen, first);
    EXPECT_EQ(fired(), (std::vector<int>{7}));
}

TEST_F(TimerTest, StopDropsPendingEntriesAndRefusesNewOnes) {
    timer.add(record(1), 10000);
    timer.stop();
    EXPECT_EQ(timer.add(record(2), 0), 0u);
    clock->advance(10000ms);
    EXPECT_TRUE(fired().empty());
}

TEST(Timer, MayBeDestroyedFromItsOwnCallback) {
    auto timer = std::make_unique<Timer>();
    bool pendingFired = false;
    timer->add([&](Timer&, std::uint32_t) { pendingFired = true; }, 60000);  // dropped with the timer
    // The callback's copy is freed by the worker after it has returned and locked the state it shares;
    // the address sanitizer run catches any touch of what the timer owned.
    auto released = std::make_shared<std::promise<void>>();
    auto workerDone = released->get_future();
    std::shared_ptr<void> guard(nullptr, [released](void*) { released->set_value(); });
    timer->add([&timer, guard = std::move(guard)](Timer&, std::uint32_t) { timer.reset(); }, 0);
    ASSERT_EQ(workerDone.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(pendingFired);
}
