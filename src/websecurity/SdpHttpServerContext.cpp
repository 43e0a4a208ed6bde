#include "websecurity/SdpHttpServerContext.h"

#include "log/Log.h"
#include "support/TextCase.h"

namespace talvern {

bool SdpHttpServerContext::addRefererWhitelist(const std::vector<std::string>& entries,
                                               const std::string& label) {
    std::lock_guard lock(m_mutex);
    for (const std::string& entry : entries) {
        insertLocked(entry, label);
    }
    return true;
}

bool SdpHttpServerContext::addRefererWhitelist(const std::string& entry, const std::string& label) {
    std::lock_guard lock(m_mutex);
    insertLocked(entry, label);
    return true;
}

bool SdpHttpServerContext::clearRefererWhitelist() {
    std::lock_guard lock(m_mutex);
    OKV_LOG_INFO("clear the refere check whitelist");
    m_whitelist.clear();
    return true;
}

bool SdpHttpServerContext::isInRefererWhitelist(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    return m_whitelist.count(utilities::lowerCase(path)) != 0;
}

std::set<std::string> SdpHttpServerContext::refererWhitelist() const {
    std::lock_guard lock(m_mutex);
    return m_whitelist;
}

void SdpHttpServerContext::insertLocked(const std::string& entry, const std::string& label) {
    // Paths are looked up lower-cased, so entries are kept lower-cased: "/v1/getServicePort" must match.
    m_whitelist.insert(utilities::lowerCase(entry));
    OKV_LOG_INFO("[{}]Add the refere check whitelist: {}", label, entry);
}

}  // namespace talvern
