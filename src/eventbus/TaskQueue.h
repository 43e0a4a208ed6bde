#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace talvern::eventbus {

/// A queue of tasks run one after the other, in the order they were posted, by whichever thread calls
/// `run`. Tasks posted while nobody runs the queue wait for the next `run`. Thread-safe.
class TaskQueue {
public:
    /// Queues a task.
    void post(std::function<void()> task);

    /// Runs tasks until `stop` is called; idles while the queue is empty. A task's exception leaves
    /// `run` (the queue stays usable: call `run` again to go on with the next task).
    void run();

    /// Makes `run` return after the task in progress; tasks still queued stay queued.
    void stop();

    /// Lets `run` work again after `stop`.
    void restart();

    bool stopped() const;

    /// Waits for the duration, or less when `stop` is called meanwhile.
    void pauseUnlessStopped(std::chrono::milliseconds duration);

    /// Tasks waiting to run.
    std::size_t pending() const;

private:
    // How long an idle runner stays awake before it sleeps on the condition.
    static constexpr std::chrono::microseconds kLinger{50};

    mutable std::mutex m_mutex;  // guards the tasks and the two flags
    std::condition_variable m_wake;
    std::atomic<std::size_t> m_queued{0};
    bool m_idle = false;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopped = false;
};

}  // namespace talvern::eventbus
