#include "eventcenter/EventManager.h"

namespace talvern::details {

EventManager::EventManager(std::size_t capacity) : m_capacity(capacity == 0 ? 1 : capacity) {
    m_ring.reserve(m_capacity);
}

std::shared_ptr<Event> EventManager::addLocked(const std::string& topic, const std::string& content) {
    auto event = std::make_shared<Event>();
    event->id = m_nextId++;
    event->topic = topic;
    event->content = content;
    if (m_ring.size() < m_capacity) {
        m_ring.push_back(event);
    } else {
        m_ring[m_head] = event;
        m_head = (m_head + 1) % m_capacity;
    }
    return event;
}

std::shared_ptr<Event> EventManager::add(const std::string& topic, const std::string& content) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return addLocked(topic, content);
}

std::shared_ptr<Event> EventManager::clearAndAdd(const std::string& topic, const std::string& content) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ring.clear();
    m_head = 0;
    return addLocked(topic, content);
}

std::shared_ptr<Event> EventManager::newest() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ring.empty()) {
        return nullptr;
    }
    if (m_ring.size() < m_capacity) {
        return m_ring.back();
    }
    return m_ring[(m_head + m_capacity - 1) % m_capacity];
}

std::vector<std::shared_ptr<Event>> EventManager::since(std::int64_t fromId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<Event>> events;
    const std::size_t count = m_ring.size();
    const std::size_t start = count < m_capacity ? 0 : m_head;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& event = m_ring[(start + i) % count];
        if (event->id >= fromId) {
            events.push_back(event);
        }
    }
    return events;
}

std::size_t EventManager::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.size();
}

}  // namespace talvern::details
