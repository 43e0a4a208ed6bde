#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace talvern::rpc {

/// Remembers, for a while, which processes run an executable with the maker's signature, so that a client
/// making many calls is checked once per period instead of once per call. Only positive verdicts are kept.
class ProcessSignCache {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    /// Process id, then executable path: a reused pid with another executable is a different key.
    using Key = std::pair<std::uint32_t, std::string>;

    static constexpr std::int32_t kTimeLimitSeconds = 300;
    static constexpr std::uint32_t kMaxSize = 50;

    explicit ProcessSignCache(Clock clock = &std::chrono::steady_clock::now,
                              std::int32_t timeLimitSeconds = kTimeLimitSeconds,
                              std::uint32_t maxSize = kMaxSize);

    /// The process-wide cache.
    static ProcessSignCache& instance();

    /// Records a signed process, evicting the oldest entry when the cache is full.
    void add(const Key& key);
    /// True when the key was recorded less than the time limit ago (older entries are dropped first).
    bool contains(const Key& key);
    std::size_t size();
    /// The cache as text for the log.
    std::string toString();

private:
    struct Value {
        bool isSign;
        std::chrono::steady_clock::time_point inserted;
    };

    void aged();               // lock held
    void checkAndEliminate();  // lock held
    std::string entryText(const Key& key, const Value& value) const;
    std::string textLocked() const;
    std::int64_t ageSeconds(const Value& value) const;

    Clock m_clock;
    std::int32_t timeLimit;
    std::uint32_t maxSize;
    std::map<Key, Value> m_entries;
    std::mutex m_mutex;  // guards the entries
};

}  // namespace talvern::rpc
