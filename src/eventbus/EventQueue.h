#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "eventbus/EventTypes.h"

namespace talvern::eventbus {

/// The last accepted events, oldest first, in a ring of fixed size: memory stays bounded however many
/// events pass. Each appended entry gets the next id of the queue's own counter (0, 1, 2, ...), so the
/// entries held always carry consecutive ids. Thread-safe.
class EventQueue {
public:
    static constexpr std::size_t kDefaultCapacity = 256;

    explicit EventQueue(std::size_t capacity = kDefaultCapacity);

    /// Numbers the entry with the next id, appends it (overwriting the oldest when full) and returns the
    /// stored entry. A null entry is not stored and gives null.
    std::shared_ptr<EventRawData> append(std::shared_ptr<EventRawData> data);

    /// Every held entry whose id is at least `fromId`, oldest first.
    std::vector<std::shared_ptr<const EventRawData>> collectFrom(int64_t fromId) const;

    /// The id of the newest entry; empty while nothing was appended.
    std::optional<int64_t> newestId() const;

    /// How many entries are held (at most the capacity).
    std::size_t size() const;

    std::size_t capacity() const { return m_ring.size(); }

private:
    mutable std::mutex m_mutex;  // guards the ring and its count; the next id is also read without it
    std::vector<std::shared_ptr<EventRawData>> m_ring;
    std::size_t m_count = 0;
    std::atomic<int64_t> m_nextId{0};
};

}  // namespace talvern::eventbus
