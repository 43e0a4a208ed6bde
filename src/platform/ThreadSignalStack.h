#pragma once

#include <thread>
#include <utility>

// The crash handler runs on an alternate signal stack, which is per thread: a thread without one dies of
// a stack overflow without a dump. Every thread the agent starts therefore gets its own.
namespace talvern::platform {

/// Gives the calling thread an alternate signal stack of its own, once; it is released when the thread
/// ends. False when the stack cannot be allocated or installed (the thread runs on without one).
bool installThreadSignalStack();

/// A thread whose body runs with its own alternate signal stack. Use it for every thread of the agent.
template <class Body>
std::thread makeThread(Body&& body) {
    return std::thread([body = std::forward<Body>(body)]() mutable {
        installThreadSignalStack();
        body();
    });
}

}  // namespace talvern::platform
