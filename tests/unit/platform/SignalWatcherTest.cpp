#include "platform/SignalWatcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using talvern::platform::SignalWatcher;

namespace {

// What the watcher delivered, and on which thread.
class Received {
public:
    SignalWatcher::Handler handler() {
        return [this](int signalNumber) {
            std::lock_guard lock(m_mutex);
            m_signals.push_back(signalNumber);
            m_threads.push_back(std::this_thread::get_id());
            m_changed.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_signals.size() >= count; });
    }
    std::vector<int> signals() {
        std::lock_guard lock(m_mutex);
        return m_signals;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_signals;
    std::vector<std::thread::id> m_threads;
};

}  // namespace

TEST(SignalWatcher, HandlesSignalsOnItsOwnThreadIncludingOnesSentBeforeStart) {
    Received received;
    SignalWatcher watcher({SIGUSR1, SIGQUIT}, received.handler());
    // Blocked from construction on: this one waits instead of ending the test program.
    ASSERT_EQ(::kill(::getpid(), SIGQUIT), 0);
    std::error_code ec;
    ASSERT_TRUE(watcher.start(ec)) << ec.message();
    ASSERT_TRUE(received.waitFor(1));
    ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
    ASSERT_TRUE(received.waitFor(2));
    EXPECT_EQ(received.signals(), (std::vector<int>{SIGQUIT, SIGUSR1}));
    for (auto id : received.threads()) {
        EXPECT_NE(id, std::this_thread::get_id());
    }
    watcher.stop();
    watcher.stop();
}

TEST(SignalWatcher, ThrowingHandlerKeepsTheWatcherServing) {
    Received received;
    bool first = true;
    auto record = received.handler();
    SignalWatcher watcher({SIGUSR2}, [&](int signalNumber) {
        record(signalNumber);
        if (first) {
            first = false;
            throw std::runtime_error("handler failure");
        }
    });
    std::error_code ec;
    ASSERT_TRUE(watcher.start(ec));
    ASSERT_EQ(::kill(::getpid(), SIGUSR2), 0);
    ASSERT_TRUE(received.waitFor(1));
    ASSERT_EQ(::kill(::getpid(), SIGUSR2), 0);
    EXPECT_TRUE(received.waitFor(2));
}
