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

namespace talvern::utilities {

class CTimerPrivate {
public:
    using Clock = std::chrono::steady_clock;
    // Ordered by deadline, then by id, so entries due at the same moment fire in the order they were added.
    using Key = std::pair<Clock::time_point, std::uint32_t>;

    explicit CTimerPrivate(Timer& owner) : m_state(std::make_shared<State>(owner)) {
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
        auto deadline = Clock::now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs);
        State& state = *m_state;
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
        explicit State(Timer& timer) : owner(timer) {}

        Timer& owner;
        std::mutex mutex;
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
            const Clock::time_point deadline = first->first.first;
            if (deadline > Clock::now()) {
                state.wake.wait_until(lock, deadline);
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
