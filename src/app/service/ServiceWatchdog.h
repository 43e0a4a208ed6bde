#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace talvern {

/// Tells the service manager that the service lives, every interval, as long as the probe says so; a
/// probe that fails (or hangs past the interval) skips the notice, so the manager restarts a stuck agent.
class ServiceWatchdog {
public:
    using Probe = std::function<bool(std::chrono::milliseconds limit)>;
    using Notify = std::function<void()>;

    ServiceWatchdog(std::chrono::milliseconds interval, Probe probe, Notify notify);
    ~ServiceWatchdog();  ///< stops and joins the thread
    ServiceWatchdog(const ServiceWatchdog&) = delete;
    ServiceWatchdog& operator=(const ServiceWatchdog&) = delete;

    void start();
    void stop();

    /// Half the interval the manager asked for through WATCHDOG_USEC (sd_watchdog_enabled); zero when the
    /// manager wants no watchdog.
    static std::chrono::milliseconds requestedInterval();

private:
    void run();

    const std::chrono::milliseconds m_interval;
    const Probe m_probe;
    const Notify m_notify;
    std::mutex m_mutex;  // guards the stop flag; pairs with the wake-up below
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace talvern
