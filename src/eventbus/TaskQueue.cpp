#include "eventbus/TaskQueue.h"

#include <thread>

namespace talvern::eventbus {

void TaskQueue::post(std::function<void()> task) {
    bool idle = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_queued.fetch_add(1, std::memory_order_release);
        idle = m_idle;
    }
    if (idle) {
        m_wake.notify_one();
    }
}

void TaskQueue::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (!m_stopped && m_tasks.empty()) {
            // Events come in bursts: stay awake briefly so that the next post needs no wake-up call.
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + kLinger;
            while (m_queued.load(std::memory_order_acquire) == 0 &&
                   std::chrono::steady_clock::now() < until) {
                std::this_thread::yield();
            }
            lock.lock();
        }
        m_idle = true;
        m_wake.wait(lock, [this] { return m_stopped || !m_tasks.empty(); });
        m_idle = false;
        if (m_stopped) {
            return;
        }
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_queued.fetch_sub(1, std::memory_order_relaxed);
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
