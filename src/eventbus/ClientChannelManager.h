#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace talvern::eventbus {

/// The last event id accepted from each sending channel, so that a repeated or out-of-order event is
/// recognised. Thread-safe.
class ClientChannelManager {
public:
    /// True when `channel` already had an event with an id of at least `eventId` accepted.
    bool isRepeat(const std::string& channel, int64_t eventId) const;

    /// Records `eventId` as the last accepted id of `channel`.
    void update(const std::string& channel, int64_t eventId);

private:
    mutable std::mutex m_mutex;  // guards the last ids
    std::map<std::string, int64_t, std::less<>> m_lastIds;
};

}  // namespace talvern::eventbus
