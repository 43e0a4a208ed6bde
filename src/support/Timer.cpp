#include "support/Timer.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "log/Log.h"
#include "platform/ThreadSignalStack.h"
#include "support/Clock.h"

namespace talvern::utilities {

class CTimerPrivate {
public:
    // Ordered by deadline, then by id, so entries due at the same moment fire in the order they were added.
    using Key = std::pair<IClock::TimePoint, std::uint32_t>;

    CTimerPrivate(Timer& owner, std::shared_ptr<const IClock> clock)
        : m_state(std::make_shared<State>(owner, std::move(clock))) {
        m_worker = platform::makeThread([state = m_state] { run(*state); });
    }

    ~CTimerPrivate() {
        stop();
        if (m_worker.joinable()) {
            // Destroyed from its own callback: the worker keeps the state it shares and ends when that
            // callback returns.
            m_worker.detach();
        }
    }

    std::uint32_t add(Timer::Callback callback, std::int64_t delayMs) {
        State& state = *m_state;
        auto deadline = state.clock->now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs);
        std::lock_guard lock(state.mutex);
        if (state.stopping) {
            return 0;
        }
        std::uint32_t id = state.nextId++;
        if (state.nextId == 0) {
            state.nextId = 1;
        }
        Key key{deadline, id};
        state.queue.emplace(key, std::move(callback));
        state.index.emplace(id, key);
        if (state.queue.begin()->first == key) {
            state.wake.notify_one();
        }
        return id;
    }

    void cancel(std::uint32_t id) {
        State& state = *m_state;
        std::lock_guard lock(state.mutex);
        auto it = state.index.find(id);
        if (it == state.index.end()) {
            return;
        }
        state.queue.erase(it->second);
        state.index.erase(it);
    }

    void stop() {
        State& state = *m_state;
        {
            std::lock_guard lock(state.mutex);
            state.stopping = true;
            state.queue.clear();
            state.index.clear();
        }
        state.wake.notify_all();
        // From a callback of its own the worker cannot be joined; the loop ends when that callback returns.
        if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) {
            m_worker.join();
        }
    }

private:
    // What the worker thread uses: shared with it, so that it outlives a timer destroyed from a callback.
    struct State {
        State(Timer& timer, std::shared_ptr<const IClock> source) : owner(timer), clock(std::move(source)) {}

        Timer& owner;
        const std::shared_ptr<const IClock> clock;
        std::mutex mutex;  // guards the queue, its index, the next id and the stop flag
        std::condition_variable wake;
        std::map<Key, Timer::Callback> queue;
        std::unordered_map<std::uint32_t, Key> index;
        std::uint32_t nextId = 1;
        bool stopping = false;
    };

    static void run(State& state) {
        std::unique_lock lock(state.mutex);
        while (!state.stopping) {
            if (state.queue.empty()) {
                state.wake.wait(lock);
                continue;
            }
            auto first = state.queue.begin();
            // A copy: the entry may be cancelled (and freed) while this thread waits.
            const IClock::TimePoint deadline = first->first.first;
            if (deadline > state.clock->now()) {
                state.clock->waitUntil(state.wake, lock, deadline);
                continue;
            }
            std::uint32_t id = first->first.second;
            Timer::Callback callback = std::move(first->second);
            state.index.erase(id);
            state.queue.erase(first);
            lock.unlock();
            fire(state.owner, callback, id);
            lock.lock();
        }
    }

    static void fire(Timer& owner, Timer::Callback& callback, std::uint32_t id) {
        try {
            if (callback) {
                callback(owner, id);
            }
        } catch (const std::exception& e) {
            OKV_LOG_ERROR("timer callback {} threw; Reason: {}", id, e.what());
        } catch (...) {
            OKV_LOG_ERROR("timer callback {} threw an unknown exception", id);
        }
    }

    std::shared_ptr<State> m_state;
    std::thread m_worker;
};

Timer::Timer() : Timer(steadyClock()) {}

Timer::Timer(std::shared_ptr<const IClock> clock)
    : d(std::make_unique<CTimerPrivate>(*this, std::move(clock))) {}

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
