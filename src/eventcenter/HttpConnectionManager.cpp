#include "eventcenter/HttpConnectionManager.h"

namespace talvern {

void HttpConnectionManager::add(std::int64_t number, const PendingConnection& connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connections[number] = connection;
}

void HttpConnectionManager::setTimer(std::int64_t number, std::uint32_t timerId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto it = m_connections.find(number); it != m_connections.end()) {
        it->second.timerId = timerId;
    }
}

std::optional<PendingConnection> HttpConnectionManager::take(std::int64_t number) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_connections.find(number);
    if (it == m_connections.end()) {
        return std::nullopt;
    }
    PendingConnection connection = it->second;
    m_connections.erase(it);
    return connection;
}

std::vector<PendingConnection> HttpConnectionManager::takeAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<PendingConnection> all;
    all.reserve(m_connections.size());
    for (const auto& [number, connection] : m_connections) {
        all.push_back(connection);
    }
    m_connections.clear();
    return all;
}

std::size_t HttpConnectionManager::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections.size();
}

}  // namespace talvern
