#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "http/HttpServerContext.h"
#include "talvern/ISdpHttpServerContext.h"

namespace talvern {

/// The agent's request context: Referer and origin helpers plus the whitelist of paths that are served
/// without trust marks. Created once by the controller and shared by every chain node; modules change
/// the whitelist from their own threads while requests are tested, so it lives under a mutex.
class SdpHttpServerContext : public HttpServerContext, public ISdpHttpServerContext {
public:
    SdpHttpServerContext() = default;
    ~SdpHttpServerContext() override = default;
    SdpHttpServerContext(const SdpHttpServerContext&) = delete;
    SdpHttpServerContext& operator=(const SdpHttpServerContext&) = delete;

    bool addRefererWhitelist(const std::vector<std::string>& entries, const std::string& label) override;
    bool addRefererWhitelist(const std::string& entry, const std::string& label) override;
    bool clearRefererWhitelist() override;

    /// True when the path, lower-cased, is on the whitelist (entries are kept lower-cased).
    bool isInRefererWhitelist(const std::string& path) const;
    /// A copy of the whitelist (lower-cased entries), in order.
    std::set<std::string> refererWhitelist() const;

private:
    // Both forms insert here; the caller holds the mutex.
    void insertLocked(const std::string& entry, const std::string& label);

    mutable std::mutex m_mutex;  // guards the whitelist
    std::set<std::string> m_whitelist;
};

}  // namespace talvern
