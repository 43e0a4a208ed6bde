#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace talvern::test {

/// Records what an event handler is given (topic and content) and on which threads; a test waits for a
/// number of calls (the limit only ends a hang).
class EventRecorder {
public:
    using Call = std::pair<std::string, std::string>;

    std::function<bool(const char* topic, const char* content)> handler() {
        return [this](const char* topic, const char* content) {
            std::lock_guard lock(m_mutex);
            m_calls.emplace_back(topic, content != nullptr ? content : "");
            m_threads.insert(std::this_thread::get_id());
            m_changed.notify_all();
            return true;
        };
    }
    std::vector<Call> waitFor(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [&] { return m_calls.size() >= count; });
        return m_calls;
    }
    std::size_t count(const Call& call) {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count(m_calls.begin(), m_calls.end(), call));
    }
    std::set<std::thread::id> threads() {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    std::mutex m_mutex;  // guards the calls and the threads
    std::condition_variable m_changed;
    std::vector<Call> m_calls;
    std::set<std::thread::id> m_threads;
};

}  // namespace talvern::test
