#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "http/engine/Engine.h"

namespace talvern {

/// Work that another thread hands to the loop thread in batches (see HttpServerManager::schedule).
class ILoopWork {
public:
    virtual ~ILoopWork() = default;
    /// Runs on the loop thread.
    virtual void runOnLoop() = 0;
};

/// Owns the engine manager and the one thread that drives it: every engine callback, request
/// construction and synchronous handler runs on that loop thread.
class HttpServerManager {
public:
    explicit HttpServerManager(engine::EngineLimits limits = {});
    /// Stops and joins the loop thread (on the loop thread itself the loop is only told to end).
    virtual ~HttpServerManager();
    HttpServerManager(const HttpServerManager&) = delete;
    HttpServerManager& operator=(const HttpServerManager&) = delete;

    /// Starts the loop thread once.
    void start();
    /// The loop: polls the engine every 100 ms until stopped.
    void run();
    /// Ends the loop and joins its thread (idempotent).
    void stop();
    /// Runs `fn` on the loop thread once for every open connection; ignored before `start`.
    void post(std::function<void(engine::mg_connection*, int, void*)> fn);
    /// Runs `fn` once on the loop thread; ignored before `start`.
    void runOnLoop(std::function<void()> fn);
    /// Runs `work` on the loop thread; whatever is scheduled before the loop gets to it runs in one
    /// turn, handed over with one wake-up. False (and nothing runs) before `start`.
    bool schedule(std::shared_ptr<ILoopWork> work);

    /// True on the loop thread.
    bool isLoopThread() const { return std::this_thread::get_id() == m_loopThreadId.load(); }
    /// The engine manager (binding, TLS, connection iteration).
    engine::mg_mgr* engine() const { return m_mgr.get(); }

private:
    std::mutex m_mutex;  // serialises posting, start and stop
    std::shared_ptr<engine::mg_mgr> m_mgr;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(true);
    bool m_started = false;
    std::shared_ptr<std::thread> m_thread;
    std::atomic<std::thread::id> m_loopThreadId{};
    struct WorkQueue;
    std::shared_ptr<WorkQueue> m_workQueue;  // shared with the task that runs it
};

}  // namespace talvern
