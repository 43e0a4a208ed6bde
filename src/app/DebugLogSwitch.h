#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace talvern::utilities {
class Timer;
}

namespace talvern {

/// Re-reads the debug mark of both process-wide loggers every period on a timer.
class DebugLogSwitch {
public:
    static constexpr std::chrono::milliseconds kDefaultPeriod{5000};

    explicit DebugLogSwitch(utilities::Timer& timer, std::chrono::milliseconds period = kDefaultPeriod);
    ~DebugLogSwitch();
    DebugLogSwitch(const DebugLogSwitch&) = delete;
    DebugLogSwitch& operator=(const DebugLogSwitch&) = delete;

    void start();
    void stop();

private:
    void schedule();

    utilities::Timer& m_timer;
    std::chrono::milliseconds m_period;
    std::mutex m_mutex;  // guards the pending timer id and the two flags below
    std::condition_variable m_idle;
    std::uint32_t m_pending = 0;
    bool m_running = false;
    bool m_inFlight = false;
};

}  // namespace talvern
