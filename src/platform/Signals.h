#pragma once

#include <functional>
#include <memory>

// The agent never handles process signals in async-signal context: they are blocked in every thread and
// received by one dedicated thread (or by an Asio signal set on the main thread).
namespace talvern::platform {

/// The signals the console host reacts to: SIGINT, SIGTERM, SIGQUIT (the console break) and SIGABRT.
/// Blocks them in the calling thread; threads created afterwards inherit the mask.
void blockAgentSignals();

/// Unblocks them in the calling thread (command mode, or the thread that runs an Asio signal set).
void unblockAgentSignals();

/// A thread that receives the agent's signals and calls the handler for each, on that thread.
class SignalWaiter {
public:
    using Handler = std::function<void(int signal)>;

    SignalWaiter();
    ~SignalWaiter();  ///< stops and joins the thread
    SignalWaiter(const SignalWaiter&) = delete;
    SignalWaiter& operator=(const SignalWaiter&) = delete;

    /// Starts receiving; false when the signal descriptor cannot be created.
    bool start(Handler handler);
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The signal's name ("SIGINT") or its number as text.
const char* signalName(int signal);

}  // namespace talvern::platform
