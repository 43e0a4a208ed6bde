#pragma once

// The agent never handles process signals in async-signal context: they are blocked in every thread and
// received by one dedicated thread (SignalWatcher) or by an Asio signal set on the main thread.
namespace talvern::platform {

/// The signals the console host reacts to: SIGINT, SIGTERM, SIGQUIT (the console break) and SIGABRT.
/// Blocks them in the calling thread; threads created afterwards inherit the mask.
void blockAgentSignals();

/// Unblocks them in the calling thread (command mode, or the thread that runs an Asio signal set).
void unblockAgentSignals();

/// The signal's name ("SIGINT") or its number as text.
const char* signalName(int signal);

}  // namespace talvern::platform
