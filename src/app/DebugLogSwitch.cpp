#include "app/DebugLogSwitch.h"

#include "log/Logger.h"
#include "support/Timer.h"

namespace talvern {

DebugLogSwitch::DebugLogSwitch(utilities::Timer& timer, std::chrono::milliseconds period)
    : m_timer(timer), m_period(period) {}

DebugLogSwitch::~DebugLogSwitch() { stop(); }

void DebugLogSwitch::start() {
    std::lock_guard lock(m_mutex);
    if (m_running) {
        return;
    }
    m_running = true;
    schedule();
}

void DebugLogSwitch::stop() {
    std::unique_lock lock(m_mutex);
    m_running = false;
    m_timer.cancel(m_pending);
    m_pending = 0;
    // A check already under way finishes before the switch may go away.
    m_idle.wait(lock, [this] { return !m_inFlight; });
}

// Called with m_mutex held.
void DebugLogSwitch::schedule() {
    m_pending = m_timer.add(
        [this](utilities::Timer&, std::uint32_t) {
            {
                std::lock_guard lock(m_mutex);
                if (!m_running) {
                    return;
                }
                m_inFlight = true;
            }
            Logger::GetInstance().openOrCloseDebugLogByMarkFile();
            CustomLogger::GetInstance().openOrCloseDebugLogByMarkFile();
            std::lock_guard lock(m_mutex);
            m_inFlight = false;
            if (m_running) {
                schedule();
            }
            m_idle.notify_all();
        },
        m_period.count());
}

}  // namespace talvern
