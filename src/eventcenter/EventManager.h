#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace talvern::details {

/// One web event: its id, topic and JSON content (embedded verbatim in replies).
struct Event {
    std::int64_t id = 0;
    std::string topic;
    std::string content;
};

/// The last web events, in a ring (256 by default; when full the oldest goes). Ids start at 1 and are
/// never reused, not even after clear-and-add.
class EventManager {
public:
    static constexpr std::size_t kDefaultCapacity = 256;

    explicit EventManager(std::size_t capacity = kDefaultCapacity);

    /// Stores a new event with the next id.
    std::shared_ptr<Event> add(const std::string& topic, const std::string& content);
    /// Empties the store, then adds as above.
    std::shared_ptr<Event> clearAndAdd(const std::string& topic, const std::string& content);
    /// The most recent event, or null.
    std::shared_ptr<Event> newest() const;
    /// Every stored event with id >= fromId, oldest first.
    std::vector<std::shared_ptr<Event>> since(std::int64_t fromId) const;
    std::size_t size() const;

private:
    std::shared_ptr<Event> addLocked(const std::string& topic, const std::string& content);

    mutable std::mutex m_mutex;  // guards everything below
    std::int64_t m_nextId = 1;
    std::size_t m_capacity;
    std::vector<std::shared_ptr<Event>> m_ring;  // m_capacity slots once full
    std::size_t m_head = 0;                      // index of the oldest entry once full
};

}  // namespace talvern::details
