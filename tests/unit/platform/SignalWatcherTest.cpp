#include "platform/SignalWatcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "support/Eventually.h"

using talvern::platform::SignalWatcher;

namespace {

// What the watcher delivered, and on which thread.
class Received {
public:
    SignalWatcher::Handler handler() {
        return [this](int signalNumber) {
            std::lock_guard lock(m_mutex);
            m_deliveries.emplace_back(signalNumber, std::this_thread::get_id());
        };
    }
    bool waitFor(std::size_t count) {
        return talvern::test::eventually([&] { return deliveries().size() >= count; });
    }
    std::vector<std::pair<int, std::thread::id>> deliveries() {
        std::lock_guard lock(m_mutex);
        return m_deliveries;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<int, std::thread::id>> m_deliveries;
};

}  // namespace

TEST(SignalWatcher, HandlesSignalsOnItsOwnThreadIncludingOnesSentBeforeStartAndSurvivesAThrow) {
    Received received;
    auto record = received.handler();
    SignalWatcher watcher({SIGUSR1, SIGQUIT}, [&](int signalNumber) {
        record(signalNumber);
        if (signalNumber == SIGQUIT) {
            throw std::runtime_error("handler failure");
        }
    });
    // Blocked from construction on: this one waits instead of ending the test program.
    ASSERT_EQ(::kill(::getpid(), SIGQUIT), 0);
    std::error_code ec;
    ASSERT_TRUE(watcher.start(ec)) << ec.message();
    ASSERT_TRUE(received.waitFor(1));
    ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
    ASSERT_TRUE(received.waitFor(2));
    auto deliveries = received.deliveries();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[0].first, SIGQUIT);
    EXPECT_EQ(deliveries[1].first, SIGUSR1);
    for (const auto& delivery : deliveries) {
        EXPECT_NE(delivery.second, std::this_thread::get_id());
    }
    watcher.stop();
    watcher.stop();
}
