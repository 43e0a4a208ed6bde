#include "support/ThreadPool.h"

#include <utility>
// <utility> first: Asio's C++20 headers expect it.
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <thread>

#include "log/Check.h"
#include "log/Log.h"
#include "platform/ThreadSignalStack.h"

// Pool lines are debug lines of the untagged logger, formatted printf-style first.
#define OKV_POOL_LOG(...)                                                                \
    do {                                                                                 \
        if (::talvern::log::shouldLog(::talvern::log::Level::debug)) {                   \
            char okvPoolLine_[4096];                                                     \
            std::snprintf(okvPoolLine_, sizeof(okvPoolLine_), __VA_ARGS__);              \
            OKV_LOG_TAG_DEBUG("Tag null", "[threadpool] {}", std::string(okvPoolLine_)); \
        }                                                                                \
    } while (false)

namespace talvern {

namespace asio = boost::asio;

// The completion queue the workers run; a work guard keeps a worker with nothing to do waiting instead
// of the queue stopping itself.
struct thread_pool::queue {
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> guard{context.get_executor()};
};

struct thread_pool::strand::executor {
    explicit executor(asio::io_context& context) : serial(asio::make_strand(context)) {}
    asio::strand<asio::io_context::executor_type> serial;
};

/// One worker: runs the pool's queue one handler at a time until the pool stops, dismisses or retires it.
class thread_pool::thread {
public:
    // The worker's body gets its own copies of the pool reference, id and exit mark: a worker that releases
    // the last pool reference outlives this object.
    thread(const std::weak_ptr<thread_pool>& pool, std::uint32_t id)
        : m_exiting(std::make_shared<std::atomic<bool>>(false)),
          m_thread(std::make_shared<std::thread>(
              platform::makeThread([pool, id, exiting = m_exiting] { run(pool, id, *exiting); }))) {}

    static void run(const std::weak_ptr<thread_pool>& owner, std::uint32_t id, std::atomic<bool>& exiting);

    bool is_current() const { return m_thread->get_id() == std::this_thread::get_id(); }
    /// Set once the worker takes no lock of the pool any more: joining it then cannot wait on one.
    bool is_exiting() const { return m_exiting->load(); }
    void join() {
        if (m_thread->joinable() && !is_current()) {
            m_thread->join();
        }
    }
    /// Only for a worker that destroys its own pool: nothing is left to join it.
    void detach() {
        if (m_thread->joinable()) {
            m_thread->detach();
        }
    }

private:
    std::shared_ptr<std::atomic<bool>> m_exiting;
    std::shared_ptr<std::thread> m_thread;
};

void thread_pool::thread::run(const std::weak_ptr<thread_pool>& owner, std::uint32_t id,
                              std::atomic<bool>& exiting) {
    OKV_POOL_LOG("thread ready to run");
    for (bool leave = false; !leave;) {
        std::shared_ptr<thread_pool> pool = owner.lock();
        if (!pool) {
            break;
        }
        asio::io_context& context = pool->m_queue->context;
        std::size_t done =
            context.run_one_until(std::chrono::steady_clock::now() + pool->m_options.idle_seconds);
        OKV_POOL_LOG("Complete %d task", static_cast<int>(done));
        std::lock_guard lock(pool->m_lock);
        // A worker that stop took out of the map leaves even when a later start restarted the queue.
        if (context.stopped() || pool->m_threads.count(id) == 0) {
            OKV_POOL_LOG("thread stopped");
            pool->reduce_thread_private(id);
            leave = true;
        } else if (done == 0 && pool->reduce_thread_private(id)) {
            OKV_POOL_LOG("thread will destroy");
            leave = true;
        }
    }
    exiting = true;
    OKV_POOL_LOG("thread ready to exit");
}

thread_pool::thread_pool(const options& bounds) : m_options(bounds), m_queue(std::make_unique<queue>()) {}

thread_pool::~thread_pool() {
    stop();
    // A worker that released the last reference runs this destructor itself and cannot join itself.
    for (auto& worker : m_retired) {
        if (worker->is_current()) {
            worker->detach();
        } else {
            worker->join();
        }
    }
}

std::shared_ptr<thread_pool> thread_pool::instance() {
    static const std::shared_ptr<thread_pool> pool = std::make_shared<thread_pool>(options{});
    return pool;
}

void thread_pool::start() {
    std::lock_guard lock(m_lock);
    if (!m_threads.empty()) {
        return;
    }
    if (m_queue->context.stopped()) {
        m_queue->context.restart();
    }
    m_running = true;
    for (std::uint32_t i = 0; i < m_options.min_threads; ++i) {
        increase_thread_private();
    }
}

void thread_pool::stop() {
    m_queue->context.stop();
    std::map<std::uint32_t, std::shared_ptr<thread>> workers;
    std::vector<std::shared_ptr<thread>> retired;
    {
        std::lock_guard lock(m_lock);
        m_running = false;
        workers.swap(m_threads);
        retired.swap(m_retired);
    }
    for (auto& [id, worker] : workers) {
        retired.push_back(worker);
    }
    std::vector<std::shared_ptr<thread>> self;
    for (auto& worker : retired) {
        if (worker->is_current()) {
            self.push_back(worker);
        } else {
            worker->join();
        }
    }
    if (!self.empty()) {
        // Called from a worker: it leaves its loop as soon as its task returns; join it later.
        std::lock_guard lock(m_lock);
        m_retired.insert(m_retired.end(), self.begin(), self.end());
    }
}

void thread_pool::increase_task() {
    std::lock_guard lock(m_lock);
    ++m_taskCounter;
    OKV_POOL_LOG("increase task, counter is %d", static_cast<int>(m_taskCounter));
    if (m_threads.empty() || m_taskCounter >= thread_count_private()) {
        increase_thread_private();
    }
}

void thread_pool::reduce_task() {
    std::lock_guard lock(m_lock);
    if (m_taskCounter != 0) {
        --m_taskCounter;
        OKV_POOL_LOG("reduce task, counter is %d", static_cast<int>(m_taskCounter));
    }
}

std::uint32_t thread_pool::thread_count() const {
    std::lock_guard lock(m_lock);
    return thread_count_private();
}

std::uint32_t thread_pool::task_count() const {
    std::lock_guard lock(m_lock);
    return m_taskCounter;
}

void thread_pool::increase_thread_private() {
    reap_retired_private();
    // Before start and after stop, queued work waits for the next start.
    if (!m_running || thread_count_private() >= m_options.max_threads) {
        return;
    }
    std::uint32_t id = m_nextThreadId++;
    m_threads.emplace(id, std::make_shared<thread>(weak_from_this(), id));
    OKV_POOL_LOG("increase thread, current the number of threads is %d",
                 static_cast<int>(thread_count_private()));
}

bool thread_pool::reduce_thread_private(std::uint32_t id) {
    if (thread_count_private() <= m_options.min_threads) {
        return false;
    }
    auto found = m_threads.find(id);
    if (found != m_threads.end()) {
        // The worker is the calling thread: keep its object until someone else can join it.
        m_retired.push_back(std::move(found->second));
        m_threads.erase(found);
        OKV_POOL_LOG("reduce thread, current the number of threads is %d",
                     static_cast<int>(thread_count_private()));
    }
    return true;
}

void thread_pool::reap_retired_private() {
    // Only workers past their last use of the pool's locks are joined here, under the pool lock.
    std::vector<std::shared_ptr<thread>> keep;
    for (auto& worker : m_retired) {
        if (worker->is_exiting() && !worker->is_current()) {
            worker->join();
        } else {
            keep.push_back(std::move(worker));
        }
    }
    m_retired.swap(keep);
}

thread_pool::strand::strand(std::shared_ptr<thread_pool> pool) : m_pool(std::move(pool)) {
    OKV_ENSURE(m_pool != nullptr, "a strand needs a thread pool");
    m_executor = std::make_unique<executor>(m_pool->m_queue->context);
    m_counter = std::make_shared<counter>(m_pool);
}

thread_pool::strand::~strand() = default;

void thread_pool::strand::post(std::function<void()> task) {
    OKV_POOL_LOG("post");
    assistant<counter> helper(m_counter);
    asio::post(m_executor->serial, [task = std::move(task), helper = std::move(helper)]() mutable {
        try {
            if (task) {
                task();
            }
        } catch (const std::exception& e) {
            OKV_LOG_ERROR("{}; Reason: {}", "strand task failed", e.what());
        } catch (...) {
            OKV_LOG_ERROR("{}; Reason: {}", "strand task failed", "unknown exception");
        }
        // The helper goes with the handler: the task counts as finished only now.
    });
}

std::uint32_t thread_pool::strand::pending() const { return m_counter->count(); }

void thread_pool::strand::counter::increase_task() {
    std::lock_guard lock(m_mutex);
    if (m_count++ == 0) {
        if (auto pool = m_pool.lock()) {
            pool->increase_task();
        }
    }
    OKV_POOL_LOG("increase task, counter is %d", static_cast<int>(m_count));
}

void thread_pool::strand::counter::reduce_task() {
    std::lock_guard lock(m_mutex);
    if (m_count == 0) {
        return;
    }
    if (--m_count == 0) {
        if (auto pool = m_pool.lock()) {
            pool->reduce_task();
        }
    }
    OKV_POOL_LOG("reduce task, counter is %d", static_cast<int>(m_count));
}

std::uint32_t thread_pool::strand::counter::count() const {
    std::lock_guard lock(m_mutex);
    return m_count;
}

strand_registry& strand_registry::instance() {
    static strand_registry registry(thread_pool::instance());
    return registry;
}

std::shared_ptr<thread_pool::strand> strand_registry::get(const std::string& identity) {
    std::lock_guard lock(m_mutex);
    auto found = m_strands.find(identity);
    if (found != m_strands.end()) {
        return found->second;
    }
    auto created = std::make_shared<thread_pool::strand>(m_pool);
    m_strands.emplace(identity, created);
    return created;
}

}  // namespace talvern
