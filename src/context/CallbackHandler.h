#pragma once

#include <talvern/IDispatcher.h>
#include <talvern/IHandler.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace talvern {

/// Named callbacks that modules register ("srvDispatcher") and that run together by bit mask
/// ("srvHandler"). A run holds the handler's lock: a callback must not add or remove callbacks of the
/// same handler. A callback slower than the limit (1000 ms) is reported at warning level.
class CallbackHandler : public IHandler, public IDispatcher {
public:
    /// Milliseconds of a monotonic clock.
    using TickSource = std::function<std::uint64_t()>;

    /// The default tick source is the steady clock.
    explicit CallbackHandler(TickSource ticks = {},
                             std::chrono::milliseconds slowLimit = std::chrono::seconds(1));
    ~CallbackHandler() override;
    CallbackHandler(const CallbackHandler&) = delete;
    CallbackHandler& operator=(const CallbackHandler&) = delete;

    bool add(const CallbackEntry& entry) override;
    void remove(CallbackFunction callback) override;
    void handleCallback(std::uint32_t mask) override;

private:
    std::vector<CallbackEntry> m_entries;
    std::mutex m_mutex;  // guards the entries, held while they run
    TickSource m_ticks;
    std::uint64_t m_slowLimitMs;
};

}  // namespace talvern
