#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace talvern::utilities {

/// Milliseconds of the monotonic clock since an arbitrary start (the tick count of log lines and timings).
std::uint64_t steadyMilliseconds();

/// Where the components that wait read the time, so that tests can drive it instead of waiting for it.
class IClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~IClock() = default;

    virtual TimePoint now() const = 0;
    /// Waits on `wake` (its mutex held by `lock`) until a notification or `deadline` on this clock; true
    /// when the deadline has passed. May return early without either, as a condition variable may.
    virtual bool waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           TimePoint deadline) const = 0;
};

/// The monotonic clock of the machine, shared by everything that is not given another.
std::shared_ptr<const IClock> steadyClock();

}  // namespace talvern::utilities
