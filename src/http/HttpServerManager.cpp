#include "http/HttpServerManager.h"

#include "log/Log.h"
#include "platform/ThreadSignalStack.h"

namespace talvern {

namespace {
constexpr int kPollMilliseconds = 100;
}

struct HttpServerManager::WorkQueue {
    std::mutex mutex;  // guards the waiting work
    std::vector<std::shared_ptr<ILoopWork>> waiting;
    std::vector<std::shared_ptr<ILoopWork>> running;  // loop thread: the batch being run

    void runBatch() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            running.swap(waiting);
        }
        for (auto& item : running) {
            item->runOnLoop();
        }
        running.clear();  // keeps its capacity for the next batch
    }
};

HttpServerManager::HttpServerManager(engine::EngineLimits limits)
    : m_mgr(std::make_shared<engine::mg_mgr>(this, limits)), m_workQueue(std::make_shared<WorkQueue>()) {}

HttpServerManager::~HttpServerManager() { stop(); }

void HttpServerManager::start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started) {
        return;
    }
    *m_stop = false;
    m_started = true;
    m_thread = std::make_shared<std::thread>(platform::makeThread([this] { run(); }));
    OKV_LOG_TAG_INFO("HttpServer", "HttpServerManager start succ");
}

void HttpServerManager::run() {
    // The loop works on its own handles so that it can finish even after this object is gone.
    const auto mgr = m_mgr;
    const auto stop = m_stop;
    m_loopThreadId = std::this_thread::get_id();
    OKV_LOG_TAG_INFO("HttpServer", "HttpServerManager event loop run start");
    while (!stop->load()) {
        mgr->poll(kPollMilliseconds);
    }
    OKV_LOG_TAG_INFO("HttpServer", "HttpServerManager event loop run end");
}

void HttpServerManager::stop() {
    if (isLoopThread()) {
        // The loop cannot wait for itself: it ends after the current poll.
        OKV_LOG_TAG_ERROR("HttpServer", "{}; Reason: {}", "HttpServerManager stop on its loop thread",
                          "the loop ends after this poll and finishes on its own");
        *m_stop = true;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_thread && m_thread->joinable()) {
            m_thread->detach();
        }
        return;
    }
    std::shared_ptr<std::thread> thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *m_stop = true;
        thread = std::move(m_thread);
    }
    if (thread && thread->joinable()) {
        m_mgr->wakeUp();
        thread->join();
    }
}

void HttpServerManager::post(std::function<void(engine::mg_connection*, int, void*)> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started || !fn) {
        return;
    }
    m_mgr->broadcast(std::move(fn));
}

void HttpServerManager::runOnLoop(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_started || !fn) {
        return;
    }
    m_mgr->post(std::move(fn));
}

bool HttpServerManager::schedule(std::shared_ptr<ILoopWork> work) {
    if (!work) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started || m_stop->load()) {
            return false;
        }
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_workQueue->mutex);
        wake = m_workQueue->waiting.empty();
        m_workQueue->waiting.push_back(std::move(work));
    }
    if (wake) {
        m_mgr->post([queue = m_workQueue] { queue->runBatch(); });
    }
    return true;
}

}  // namespace talvern
