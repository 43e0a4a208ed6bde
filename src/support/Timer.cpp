#include "support/Timer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "log/Log.h"

namespace talvern::utilities {

class CTimerPrivate {
public:
    using Clock = std::chrono::steady_clock;
    // Ordered by deadline, then by id, so entries due at the same moment fire in the order they were added.
    using Key = std::pair<Clock::time_point, std::uint32_t>;

    explicit CTimerPrivate(Timer& owner) : m_owner(owner), m_worker([this] { run(); }) {}

    ~CTimerPrivate() {
        stop();
        if (m_worker.joinable()) {
            m_worker.detach();  // destroyed from its own callback: the loop ends when that callback returns
        }
    }

    std::uint32_t add(Timer::Callback callback, std::int64_t delayMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs);
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return 0;
        }
        std::uint32_t id = m_nextId++;
        if (m_nextId == 0) {
            m_nextId = 1;
        }
        Key key{deadline, id};
        m_queue.emplace(key, std::move(callback));
        m_index.emplace(id, key);
        if (m_queue.begin()->first == key) {
            m_wake.notify_one();
        }
        return id;
    }

    void cancel(std::uint32_t id) {
        std::lock_guard lock(m_mutex);
        auto it = m_index.find(id);
        if (it == m_index.end()) {
            return;
        }
        m_queue.erase(it->second);
        m_index.erase(it);
    }

    void stop() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_queue.clear();
            m_index.clear();
        }
        m_wake.notify_all();
        // From a callback of its own the worker cannot be joined; the loop ends when that callback returns.
        if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) {
            m_worker.join();
        }
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (m_queue.empty()) {
                m_wake.wait(lock);
                continue;
            }
            auto first = m_queue.begin();
            // A copy: the entry may be cancelled (and freed) while this thread waits.
            const Clock::time_point deadline = first->first.first;
            if (deadline > Clock::now()) {
                m_wake.wait_until(lock, deadline);
                continue;
            }
            std::uint32_t id = first->first.second;
            Timer::Callback callback = std::move(first->second);
            m_index.erase(id);
            m_queue.erase(first);
            lock.unlock();
            fire(callback, id);
            lock.lock();
        }
    }

    void fire(Timer::Callback& callback, std::uint32_t id) {
        try {
            if (callback) {
                callback(m_owner, id);
            }
        } catch (const std::exception& e) {
            OKV_LOG_ERROR("timer callback {} threw; Reason: {}", id, e.what());
        } catch (...) {
            OKV_LOG_ERROR("timer callback {} threw an unknown exception", id);
        }
    }

    Timer& m_owner;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<Key, Timer::Callback> m_queue;
    std::unordered_map<std::uint32_t, Key> m_index;
    std::uint32_t m_nextId = 1;
    bool m_stopping = false;
    std::thread m_worker;  // last: starts once everything above is ready
};

Timer::Timer() : d(std::make_unique<CTimerPrivate>(*this)) {}

Timer::~Timer() = default;

Timer& Timer::instance() {
    static Timer timer;
    return timer;
}

std::uint32_t Timer::add(Callback callback, std::int64_t delayMs) {
    return d->add(std::move(callback), delayMs);
}

void Timer::cancel(std::uint32_t id) { d->cancel(id); }

void Timer::stop() { d->stop(); }

}  // namespace talvern::utilities
