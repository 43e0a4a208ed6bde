#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace talvern {

/// What calls into modules need from the agent: a millisecond clock for timing them, and the ordered
/// queue (one per module guid) that bus events are handed to.
struct ModuleCallEnv {
    using Clock = std::function<std::uint64_t()>;
    using Post = std::function<void(const std::string& guid, std::function<void()> task)>;

    Clock nowMs;
    Post postToStrand;

    /// The steady clock and the process thread pool's strands.
    static std::shared_ptr<const ModuleCallEnv> standard();
};

}  // namespace talvern
