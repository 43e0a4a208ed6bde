#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace talvern::utilities {

class CTimerPrivate;
class IClock;

/// One-shot timers served by one worker thread, earliest deadline first. Ids are handed out from 1 up;
/// deadlines are taken from its clock (the monotonic one unless given another). Callbacks run one at a time
/// on the timer's thread.
class Timer {
public:
    using Callback = std::function<void(Timer& timer, std::uint32_t id)>;

    Timer();
    explicit Timer(std::shared_ptr<const IClock> clock);
    /// Stops the worker; entries that have not fired are dropped.
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    /// The process-wide timer.
    static Timer& instance();

    /// Runs callback once, delayMs milliseconds from now (a negative delay counts as 0).
    std::uint32_t add(Callback callback, std::int64_t delayMs);
    /// Drops the entry if it has not fired yet; does nothing otherwise.
    void cancel(std::uint32_t id);
    /// Stops the worker thread and drops pending entries; later adds are ignored (they return 0).
    void stop();

private:
    std::unique_ptr<CTimerPrivate> d;
};

}  // namespace talvern::utilities
