#include "app/service/ServiceWatchdog.h"

#include <systemd/sd-daemon.h>

#include "log/Log.h"
#include "platform/ThreadSignalStack.h"

namespace talvern {

ServiceWatchdog::ServiceWatchdog(std::chrono::milliseconds interval, Probe probe, Notify notify)
    : m_interval(interval), m_probe(std::move(probe)), m_notify(std::move(notify)) {}

ServiceWatchdog::~ServiceWatchdog() { stop(); }

void ServiceWatchdog::start() {
    std::lock_guard lock(m_mutex);
    if (!m_thread.joinable()) {
        m_stopping = false;
        m_thread = platform::makeThread([this] { run(); });
    }
}

void ServiceWatchdog::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::chrono::milliseconds ServiceWatchdog::requestedInterval() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0) {
        return std::chrono::milliseconds(0);
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec / 2));
}

void ServiceWatchdog::run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        // One notice per interval, however long the probe took (at most the interval itself).
        const auto next = std::chrono::steady_clock::now() + m_interval;
        lock.unlock();
        if (m_probe(m_interval)) {
            m_notify();
        } else {
            OKV_LOG_WARN("{}; Reason: {}", "the service watchdog is not told",
                         "the agent controller does not answer");
        }
        lock.lock();
        m_wake.wait_until(lock, next, [this] { return m_stopping; });
    }
}

}  // namespace talvern
