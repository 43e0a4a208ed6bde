#include "context/CallbackHandler.h"

#include <algorithm>
#include <exception>

#include "log/Log.h"
#include "support/Clock.h"

namespace talvern {

CallbackHandler::CallbackHandler(TickSource ticks, std::chrono::milliseconds slowLimit)
    : m_ticks(ticks ? std::move(ticks) : TickSource(utilities::steadyMilliseconds)),
      m_slowLimitMs(static_cast<std::uint64_t>(std::max<std::int64_t>(slowLimit.count(), 0))) {}

CallbackHandler::~CallbackHandler() = default;

bool CallbackHandler::add(const CallbackEntry& entry) {
    if (entry.callback == nullptr) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_entries.push_back(entry);
    return true;
}

void CallbackHandler::remove(CallbackFunction callback) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [callback](const CallbackEntry& entry) { return entry.callback == callback; });
}

void CallbackHandler::handleCallback(std::uint32_t mask) {
    std::lock_guard lock(m_mutex);
    for (const CallbackEntry& entry : m_entries) {
        if ((entry.eventMask & mask) == 0) {
            continue;
        }
        std::uint64_t begin = m_ticks();
        std::string result;
        try {
            entry.callback(entry.data, result);
        } catch (const std::exception& e) {
            OKV_LOG_TAG_ERROR("Tag null", "exec update callback({}) failed; Reason: {}", entry.name,
                              e.what());
        } catch (...) {
            OKV_LOG_TAG_ERROR("Tag null", "exec update callback({}) failed; Reason: {}", entry.name,
                              "unknown exception");
        }
        std::uint64_t elapsed = m_ticks() - begin;
        if (elapsed <= m_slowLimitMs) {
            OKV_LOG_TAG_DEBUG("Tag null", "exec update callback({}) take time={}", entry.name, elapsed);
        } else {
            OKV_LOG_TAG_WARN("Tag null", "exec update callback({}) take time={}", entry.name, elapsed);
        }
    }
}

}  // namespace talvern
