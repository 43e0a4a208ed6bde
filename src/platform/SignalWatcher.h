#pragma once

#include <functional>
#include <memory>
#include <system_error>
#include <vector>

namespace talvern::platform {

/// Handles process signals on a thread of its own instead of in signal context, so that a handler may
/// log, allocate and take locks. The watched signals are blocked in the thread that constructs the
/// watcher; threads started after it inherit that mask, so construct it before any other thread starts.
/// A signal arriving before start waits and is handled once the watcher runs. Note that abort() unblocks
/// SIGABRT for itself, so only a SIGABRT sent from outside reaches the watcher.
///
/// The console's signals: SIGINT, SIGQUIT (stands for SIGBREAK), SIGTERM, SIGABRT.
class SignalWatcher {
public:
    using Handler = std::function<void(int signalNumber)>;

    SignalWatcher(std::vector<int> signals, Handler handler);
    /// Stops and joins the thread; the signals stay blocked.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    /// Starts the thread that runs the handler, one signal at a time. False with the error when the
    /// signals cannot be watched.
    bool start(std::error_code& ec);
    /// Stops and joins the thread. Safe to call more than once, but not from the handler.
    void stop();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace talvern::platform
