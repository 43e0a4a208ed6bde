#include "support/Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using talvern::utilities::Timer;
using namespace std::chrono_literals;

namespace {

// Collects what the timer fired, and lets a test wait for a number of firings.
class Recorder {
public:
    Timer::Callback record(int tag) {
        return [this, tag](Timer&, std::uint32_t) {
            std::lock_guard lock(m_mutex);
            m_fired.push_back(tag);
            m_threads.push_back(std::this_thread::get_id());
            m_changed.notify_all();
        };
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_fired.size() >= count; });
    }
    std::vector<int> fired() {
        std::lock_guard lock(m_mutex);
        return m_fired;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_fired;
    std::vector<std::thread::id> m_threads;
};

}  // namespace

TEST(Timer, IdsStartAtOneAndGrow) {
    Timer timer;
    EXPECT_EQ(timer.add(nullptr, 1000), 1u);
    EXPECT_EQ(timer.add(nullptr, 1000), 2u);
    EXPECT_EQ(timer.add(nullptr, 1000), 3u);
}

TEST(Timer, FiresByDeadlineThenInAddOrder) {
    Timer timer;
    Recorder recorder;
    // Added latest-first; a blocking first entry holds the worker until all are queued.
    std::mutex gate;
    std::unique_lock hold(gate);
    timer.add([&](Timer&, std::uint32_t) { std::lock_guard wait(gate); }, 0);
    timer.add(recorder.record(6), 30);
    timer.add(recorder.record(5), 20);
    timer.add(recorder.record(4), 10);
    for (int i = 0; i < 3; ++i) {
        timer.add(recorder.record(i), 0);
    }
    timer.add(recorder.record(3), -5);  // a negative delay counts as due now
    hold.unlock();
    ASSERT_TRUE(recorder.waitFor(7));
    EXPECT_EQ(recorder.fired(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(Timer, CancelledEntryNeverFires) {
    Timer timer;
    Recorder recorder;
    auto doomed = timer.add(recorder.record(1), 20);
    timer.cancel(doomed);
    timer.cancel(doomed);  // twice is harmless
    timer.cancel(9999);    // unknown too
    timer.add(recorder.record(2), 40);
    ASSERT_TRUE(recorder.waitFor(1));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(recorder.fired(), (std::vector<int>{2}));
}

TEST(Timer, CallbacksRunOffTheCallersThreadOneAtATime) {
    Timer timer;
    Recorder recorder;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 20; ++i) {
        auto record = recorder.record(i);
        timer.add(
            [&, record](Timer& t, std::uint32_t id) mutable {
                if (running.fetch_add(1) != 0) {
                    overlapped = true;
                }
                record(t, id);
                running.fetch_sub(1);
            },
            i % 3);
    }
    ASSERT_TRUE(recorder.waitFor(20));
    EXPECT_FALSE(overlapped);
    for (auto id : recorder.threads()) {
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

TEST(Timer, CallbackMayRescheduleItselfAndSeesItsId) {
    Timer timer;
    Recorder recorder;
    std::uint32_t seen = 0;
    std::uint32_t first = timer.add(
        [&](Timer& t, std::uint32_t id) {
            seen = id;
            t.add(recorder.record(7), 1);
        },
        1);
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(seen, first);
}

TEST(Timer, ThrowingCallbackDoesNotStopTheWorker) {
    Timer timer;
    Recorder recorder;
    timer.add([](Timer&, std::uint32_t) { throw std::runtime_error("boom"); }, 0);
    timer.add(recorder.record(1), 5);
    EXPECT_TRUE(recorder.waitFor(1));
}

TEST(Timer, StopDropsPendingEntriesAndRefusesNewOnes) {
    Timer timer;
    Recorder recorder;
    timer.add(recorder.record(1), 10000);
    timer.stop();
    EXPECT_EQ(timer.add(recorder.record(2), 0), 0u);
    EXPECT_TRUE(recorder.fired().empty());
}

TEST(Timer, MayBeDestroyedFromItsOwnCallback) {
    auto timer = std::make_unique<Timer>();
    Recorder recorder;
    std::promise<void> destroyed;
    timer->add(recorder.record(2), 50);  // still pending: dropped with the timer
    timer->add(
        [&](Timer&, std::uint32_t) {
            timer.reset();
            destroyed.set_value();
        },
        0);
    destroyed.get_future().wait();
    // The worker goes on once the callback returns and must touch only what it shares (the address
    // sanitizer run catches anything else); it gets a moment for that before the test ends.
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(recorder.fired().empty());
}
