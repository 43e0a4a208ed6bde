#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace talvern {

/// The process's pool of worker threads. Work is posted to strands: ordered queues whose tasks run one
/// at a time, in posting order, on whichever worker is free. The pool keeps between `min_threads` and
/// `max_threads` workers: a new worker starts whenever there are as many busy strands as workers, and a
/// worker that found nothing to run for a whole idle period retires while more than `min_threads` remain.
/// Always owned through std::shared_ptr.
class thread_pool : public std::enable_shared_from_this<thread_pool> {
public:
    struct options {
        std::uint32_t min_threads = 2;
        std::uint32_t max_threads = 4;
        /// How long a worker waits for one task before it considers retiring.
        std::chrono::milliseconds idle_seconds = std::chrono::seconds(120);
    };

    class thread;
    class strand;
    template <typename Target>
    class assistant;

    explicit thread_pool(const options& bounds);
    thread_pool() : thread_pool(options{}) {}
    /// Stops the queue and joins the workers.
    ~thread_pool();
    thread_pool(const thread_pool&) = delete;
    thread_pool& operator=(const thread_pool&) = delete;

    /// The process-wide pool (2 to 4 workers, 120 s idle period); created on first use, never started here.
    static std::shared_ptr<thread_pool> instance();

    /// Starts `min_threads` workers when the pool has none; a stopped pool is started again. Until the
    /// first start, tasks only queue up.
    void start();
    /// Stops the queue and joins every worker except the calling one. Queued tasks wait for a later start.
    void stop();

    /// A strand went from idle to busy.
    void increase_task();
    /// A strand went from busy to idle.
    void reduce_task();

    /// The number of live workers.
    std::uint32_t thread_count() const;
    /// The number of strands holding unfinished work.
    std::uint32_t task_count() const;

private:
    struct queue;

    void increase_thread_private();
    bool reduce_thread_private(std::uint32_t id);
    void reap_retired_private();
    std::uint32_t thread_count_private() const { return static_cast<std::uint32_t>(m_threads.size()); }

    const options m_options;
    std::unique_ptr<queue> m_queue;
    mutable std::mutex m_lock;  // guards the workers, the retired ones, the counters and the running flag
    std::map<std::uint32_t, std::shared_ptr<thread>> m_threads;
    // Workers that left the map (retired, or the caller of stop) and still have to be joined.
    std::vector<std::shared_ptr<thread>> m_retired;
    std::uint32_t m_taskCounter = 0;
    std::uint32_t m_nextThreadId = 1;
    bool m_running = false;  // between start and stop
};

/// One ordered queue of tasks on a pool.
class thread_pool::strand {
public:
    class counter;

    explicit strand(std::shared_ptr<thread_pool> pool);
    ~strand();
    strand(const strand&) = delete;
    strand& operator=(const strand&) = delete;

    /// Queues a task; it runs after every task posted before it on this strand, never beside one.
    /// A task that throws is logged and the strand goes on.
    void post(std::function<void()> task);

    /// The number of tasks posted and not yet finished.
    std::uint32_t pending() const;

private:
    struct executor;

    std::shared_ptr<thread_pool> m_pool;
    std::unique_ptr<executor> m_executor;
    std::shared_ptr<counter> m_counter;
};

/// Counts a strand's unfinished tasks; only the changes 0 -> 1 and 1 -> 0 reach the pool.
class thread_pool::strand::counter {
public:
    explicit counter(std::weak_ptr<thread_pool> pool) : m_pool(std::move(pool)) {}

    void increase_task();
    void reduce_task();
    std::uint32_t count() const;

private:
    std::weak_ptr<thread_pool> m_pool;
    mutable std::mutex m_mutex;  // guards the count
    std::uint32_t m_count = 0;
};

/// Travels with one posted task: counts the task on creation and uncounts it when the task has run or
/// was discarded.
template <typename Target>
class thread_pool::assistant {
public:
    explicit assistant(std::shared_ptr<Target> target) : m_target(std::move(target)) {
        m_target->increase_task();
    }
    ~assistant() {
        if (m_target) {
            m_target->reduce_task();
        }
    }
    assistant(assistant&& other) noexcept = default;
    assistant& operator=(assistant&&) = delete;
    assistant(const assistant&) = delete;
    assistant& operator=(const assistant&) = delete;

private:
    std::shared_ptr<Target> m_target;
};

/// Strands by identity (one per module), each created on first use and kept for the life of the registry.
class strand_registry {
public:
    explicit strand_registry(std::shared_ptr<thread_pool> pool) : m_pool(std::move(pool)) {}

    /// The registry of the process-wide pool.
    static strand_registry& instance();

    /// The strand of this identity.
    std::shared_ptr<thread_pool::strand> get(const std::string& identity);

private:
    std::shared_ptr<thread_pool> m_pool;
    std::mutex m_mutex;  // guards the strands
    std::map<std::string, std::shared_ptr<thread_pool::strand>> m_strands;
};

}  // namespace talvern
