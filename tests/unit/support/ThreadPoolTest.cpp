#include "support/ThreadPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "support/Eventually.h"
#include "support/LogCapture.h"

using talvern::thread_pool;
using talvern::test::eventually;
using namespace std::chrono_literals;

namespace {

// Holds tasks until opened; counts the tasks that reached it.
struct Gate {
    std::function<void()> task() {
        return [this] {
            ++arrived;
            opened.wait();
        };
    }
    bool waitForWaiting(int count) {
        return eventually([&] { return arrived >= count; });
    }
    void open() { opening.set_value(); }

    std::promise<void> opening;
    std::shared_future<void> opened = opening.get_future().share();
    std::atomic<int> arrived{0};
};

std::shared_ptr<thread_pool> makePool(std::chrono::milliseconds idle = 120s) {
    thread_pool::options bounds;
    bounds.idle_seconds = idle;
    return std::make_shared<thread_pool>(bounds);
}

// A pool of the default bounds (replaced by tests that need a short idle period), stopped from the test's
// thread at the end: a worker must never be the one to release the last reference.
class ThreadPool : public ::testing::Test {
protected:
    void TearDown() override { pool->stop(); }
    std::shared_ptr<thread_pool::strand> makeStrand() { return std::make_shared<thread_pool::strand>(pool); }

    // Posts a task on the strand and waits until it ran.
    static bool runs(const std::shared_ptr<thread_pool::strand>& strand) {
        auto ran = std::make_shared<std::atomic<bool>>(false);
        strand->post([ran] { *ran = true; });
        return eventually([&] { return ran->load(); });
    }

    std::shared_ptr<thread_pool> pool = makePool();
};

}  // namespace

TEST_F(ThreadPool, GrowsOneWorkerPerBusyStrandUpToFour) {
    pool->start();
    Gate gate;
    std::vector<std::shared_ptr<thread_pool::strand>> strands;
    for (int i = 0; i < 5; ++i) {
        strands.push_back(makeStrand());
    }

    std::atomic<int> ran{0};
    strands[0]->post(gate.task());
    for (int i = 0; i < 9; ++i) {
        strands[0]->post([&] { ++ran; });
    }
    ASSERT_TRUE(gate.waitForWaiting(1));
    EXPECT_EQ(strands[0]->pending(), 10u);
    EXPECT_EQ(pool->task_count(), 1u) << "ten tasks on one strand count once";
    EXPECT_EQ(pool->thread_count(), 2u) << "one busy strand needs no third worker";

    strands[1]->post(gate.task());
    EXPECT_EQ(pool->task_count(), 2u);
    EXPECT_EQ(pool->thread_count(), 3u) << "two busy strands with two workers make a third";

    strands[2]->post(gate.task());
    EXPECT_EQ(pool->thread_count(), 4u);

    strands[3]->post(gate.task());
    strands[4]->post(gate.task());
    EXPECT_EQ(pool->task_count(), 5u);
    EXPECT_EQ(pool->thread_count(), 4u) << "never more than four workers";

    ASSERT_TRUE(gate.waitForWaiting(4));
    gate.open();
    EXPECT_TRUE(eventually([&] { return pool->task_count() == 0; }));
    EXPECT_EQ(ran.load(), 9);
}

TEST_F(ThreadPool, StrandRunsInPostingOrderWithoutOverlap) {
    pool->start();
    constexpr int kStrands = 3;
    constexpr int kTasks = 300;
    struct Track {
        std::shared_ptr<thread_pool::strand> strand;
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false};
        std::vector<int> order;  // written only by the strand's own tasks
    };
    std::vector<Track> tracks(kStrands);
    for (auto& track : tracks) {
        track.strand = makeStrand();
    }
    for (int i = 0; i < kTasks; ++i) {
        for (auto& track : tracks) {
            track.strand->post([&track, i] {
                track.overlapped = track.overlapped || track.inside.fetch_add(1) != 0;
                track.order.push_back(i);
                std::this_thread::yield();
                track.inside.fetch_sub(1);
            });
        }
    }
    ASSERT_TRUE(eventually([&] {
        return std::all_of(tracks.begin(), tracks.end(),
                           [](auto& track) { return track.strand->pending() == 0; });
    }));
    pool->stop();
    std::vector<int> expected(kTasks);
    std::iota(expected.begin(), expected.end(), 0);
    for (auto& track : tracks) {
        EXPECT_FALSE(track.overlapped.load());
        EXPECT_EQ(track.order, expected);
    }
}

TEST_F(ThreadPool, IdleWorkersRetireDownToTheMinimum) {
    talvern::test::LogCapture log;  // the workers report each idle period at debug level
    pool = makePool(20ms);
    pool->start();
    Gate gate;
    auto first = makeStrand();
    auto second = makeStrand();
    auto third = makeStrand();
    first->post(gate.task());
    second->post(gate.task());
    third->post(gate.task());
    ASSERT_TRUE(gate.waitForWaiting(3));
    EXPECT_GE(pool->thread_count(), 3u) << "three workers are held busy; a fourth may already have retired";
    gate.open();

    EXPECT_TRUE(eventually([&] { return pool->thread_count() == 2; }));
    // Several idle periods later the two last workers are still there, and they serve work.
    const int idle = log.count("Complete 0 task");
    ASSERT_TRUE(eventually([&] { return log.count("Complete 0 task") >= idle + 6; }));
    EXPECT_EQ(pool->thread_count(), 2u);
    EXPECT_TRUE(runs(first));
}

TEST_F(ThreadPool, StopFromAWorkerDoesNotJoinItself) {
    pool->start();
    auto strand = makeStrand();
    std::atomic<bool> returned{false};
    strand->post([&] {
        pool->stop();
        returned = true;
    });
    EXPECT_TRUE(eventually([&] { return returned.load(); }));
    EXPECT_EQ(pool->thread_count(), 0u);

    // Started again from outside, the pool runs new work.
    pool->start();
    EXPECT_TRUE(runs(strand));
}

TEST_F(ThreadPool, WorkerThatStoppedThePoolLeavesAfterARestart) {
    pool = makePool(5ms);
    pool->start();
    auto strand = makeStrand();
    Gate restarted;
    std::atomic<bool> stopped{false};
    strand->post([&] {
        pool->stop();
        stopped = true;
        restarted.task()();  // the queue runs again when this task returns
    });
    ASSERT_TRUE(eventually([&] { return stopped.load(); }));
    pool->start();
    restarted.open();
    ASSERT_TRUE(eventually([&] { return strand->pending() == 0; }));

    // Growing and retiring must not wait for the worker that was dismissed.
    Gate busy;
    auto first = makeStrand();
    auto second = makeStrand();
    first->post(busy.task());
    second->post(busy.task());
    // The second busy strand starts a third worker, which first collects the dismissed one.
    ASSERT_TRUE(busy.waitForWaiting(2));
    busy.open();
    EXPECT_TRUE(eventually([&] { return pool->thread_count() == 2 && pool->task_count() == 0; }));
}
