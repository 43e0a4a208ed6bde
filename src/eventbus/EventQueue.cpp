#include "eventbus/EventQueue.h"

#include <algorithm>

namespace talvern::eventbus {

EventQueue::EventQueue(std::size_t capacity) : m_ring(std::max<std::size_t>(capacity, 1)) {}

std::shared_ptr<EventRawData> EventQueue::append(std::shared_ptr<EventRawData> data) {
    if (!data) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t id = m_nextId.fetch_add(1);
    data->id = id;
    auto& slot = m_ring[static_cast<std::size_t>(id) % m_ring.size()];
    slot = std::move(data);
    m_count = std::min(m_count + 1, m_ring.size());
    return slot;
}

std::vector<std::shared_ptr<const EventRawData>> EventQueue::collectFrom(int64_t fromId) const {
    std::vector<std::shared_ptr<const EventRawData>> found;
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t next = m_nextId.load();
    const int64_t oldest = next - static_cast<int64_t>(m_count);
    for (int64_t id = std::max(fromId, oldest); id < next; ++id) {
        found.push_back(m_ring[static_cast<std::size_t>(id) % m_ring.size()]);
    }
    return found;
}

std::optional<int64_t> EventQueue::newestId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_count == 0) {
        return std::nullopt;
    }
    return m_nextId.load() - 1;
}

std::size_t EventQueue::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

}  // namespace talvern::eventbus
