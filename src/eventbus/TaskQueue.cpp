#include "eventbus/TaskQueue.h"

namespace talvern::eventbus {

void TaskQueue::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void TaskQueue::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopped || !m_tasks.empty(); });
        if (m_stopped) {
            return;
        }
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        if (task) {
            task();
        }
        lock.lock();
    }
}

void TaskQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_wake.notify_all();
}

void TaskQueue::restart() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = false;
}

bool TaskQueue::stopped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopped;
}

void TaskQueue::pauseUnlessStopped(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, duration, [this] { return m_stopped; });
}

std::size_t TaskQueue::pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tasks.size();
}

}  // namespace talvern::eventbus
