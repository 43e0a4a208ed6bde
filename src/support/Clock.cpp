#include "support/Clock.h"

namespace talvern::utilities {
namespace {

class SteadyClock final : public IClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }

    bool waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline) const override {
        return wake.wait_until(lock, deadline) == std::cv_status::timeout;
    }
};

}  // namespace

std::uint64_t steadyMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::shared_ptr<const IClock> steadyClock() {
    static const auto clock = std::make_shared<const SteadyClock>();
    return clock;
}

}  // namespace talvern::utilities
