#include "eventbus/ClientChannelManager.h"

namespace talvern::eventbus {

bool ClientChannelManager::isRepeat(const std::string& channel, int64_t eventId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_lastIds.find(channel);
    return found != m_lastIds.end() && found->second >= eventId;
}

void ClientChannelManager::update(const std::string& channel, int64_t eventId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastIds[channel] = eventId;
}

}  // namespace talvern::eventbus
