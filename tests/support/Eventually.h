#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace talvern::test {

/// Polls a condition that another thread or process makes true. The limit only ends a hang; no test
/// asserts how long it took.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace talvern::test
