#pragma once

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <utility>
#include <vector>

#include "support/Clock.h"
#include "support/Timer.h"

namespace talvern::test {

/// A clock that moves only when the test says so. Waiters sleep until `advance` passes their deadline
/// (or they are notified), and the test can wait until a component has begun a wait: no real time passes.
class ManualClock final : public utilities::IClock {
public:
    TimePoint now() const override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }

    bool waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& waiter,
                   TimePoint deadline) const override {
        const Waiter self{&wake, waiter.mutex()};
        {
            std::lock_guard lock(m_mutex);
            if (m_now >= deadline) {
                return true;
            }
            m_waiters.push_back(self);
            ++m_waitsBegun;
            m_changed.notify_all();
        }
        // `advance` notifies under the waiter's mutex, which this thread holds until it sleeps.
        wake.wait(waiter);
        std::lock_guard lock(m_mutex);
        m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), self));
        return m_now >= deadline;
    }

    /// Moves time on and wakes every waiter to look at it.
    void advance(std::chrono::steady_clock::duration step) {
        std::vector<Waiter> waiters;
        {
            std::lock_guard lock(m_mutex);
            m_now += step;
            waiters = m_waiters;
        }
        for (const Waiter& waiter : waiters) {
            std::lock_guard lock(*waiter.mutex);
            waiter.wake->notify_all();
        }
    }

    /// Blocks until `count` waits in all have begun (the real-time limit only ends a hang).
    bool awaitWaits(std::size_t count) const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_waitsBegun >= count; });
    }

private:
    struct Waiter {
        std::condition_variable* wake;
        std::mutex* mutex;
        bool operator==(const Waiter&) const = default;
    };

    mutable std::mutex m_mutex;  // guards everything below
    mutable std::condition_variable m_changed;
    TimePoint m_now{};
    mutable std::vector<Waiter> m_waiters;
    mutable std::size_t m_waitsBegun = 0;
};

/// Moves the clock on by `step` and returns once `timer` has fired everything due by then: a last entry due
/// at that moment fires after them, as entries due together fire in the order they were added.
inline bool advanceAndSettle(utilities::Timer& timer, ManualClock& clock, std::chrono::milliseconds step) {
    auto fired = std::make_shared<std::promise<void>>();
    auto done = fired->get_future();
    timer.add([fired](utilities::Timer&, std::uint32_t) { fired->set_value(); }, step.count());
    clock.advance(step);
    return done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

}  // namespace talvern::test
