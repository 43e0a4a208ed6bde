#include "rpcauth/ProcessSignCache.h"

#include <fmt/format.h>

#include "log/Log.h"

namespace talvern::rpc {

ProcessSignCache::ProcessSignCache(Clock clock, std::int32_t timeLimitSeconds, std::uint32_t maxSizeEntries)
    : m_clock(std::move(clock)), timeLimit(timeLimitSeconds), maxSize(maxSizeEntries) {}

ProcessSignCache& ProcessSignCache::instance() {
    static ProcessSignCache cache;
    return cache;
}

std::int64_t ProcessSignCache::ageSeconds(const Value& value) const {
    return std::chrono::duration_cast<std::chrono::seconds>(m_clock() - value.inserted).count();
}

std::string ProcessSignCache::entryText(const Key& key, const Value& value) const {
    return fmt::format(
        R"({{"processInfo":{{"pid":{},"path":"{}"}},"sigData":{{"isSign":{},"timeSign distance from now":"{} seconds"}}}})",
        key.first, key.second, value.isSign, ageSeconds(value));
}

std::string ProcessSignCache::textLocked() const {
    std::string entries;
    for (const auto& [key, value] : m_entries) {
        if (!entries.empty()) {
            entries += ",";
        }
        entries += entryText(key, value);
    }
    return fmt::format(R"({{"signCache":{{"cache":[{}]}},maxSize:{},timeLimit:{}}})", entries, maxSize,
                       timeLimit);
}

std::string ProcessSignCache::toString() {
    std::lock_guard lock(m_mutex);
    return textLocked();
}

void ProcessSignCache::aged() {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->second.isSign && ageSeconds(it->second) >= timeLimit) {
            OKV_LOG_INFO("age sign cache data, current cache size:{}, aged data:{}", m_entries.size(),
                         entryText(it->first, it->second));
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}

void ProcessSignCache::checkAndEliminate() {
    if (m_entries.size() < maxSize) {
        return;
    }
    auto oldest = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (oldest == m_entries.end() || it->second.inserted < oldest->second.inserted) {
            oldest = it;
        }
    }
    OKV_LOG_INFO("eliminate sign cache data, current cache size:{}, eliminate data:{}", m_entries.size(),
                 oldest == m_entries.end() ? std::string("None") : entryText(oldest->first, oldest->second));
    if (oldest != m_entries.end()) {
        m_entries.erase(oldest);
    }
}

void ProcessSignCache::add(const Key& key) {
    auto now = m_clock();
    std::lock_guard lock(m_mutex);
    checkAndEliminate();
    m_entries[key] = Value{true, now};
    OKV_LOG_INFO("{}", textLocked());
}

bool ProcessSignCache::contains(const Key& key) {
    std::lock_guard lock(m_mutex);
    aged();
    return m_entries.count(key) != 0;
}

std::size_t ProcessSignCache::size() {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

}  // namespace talvern::rpc
