#pragma once

#include "talvern/SdkExport.h"

#include <string>
#include <vector>

namespace talvern {

/// The agent's request-security context as modules see it (the service "SdpHttpContext" of the runtime
/// context points at this interface). Requests whose path is on the whitelist are served even when they
/// carry neither a trusted User-Agent nor an authorised Referer:
///
///     auto* security = static_cast<talvern::ISdpHttpServerContext*>(context->getService("SdpHttpContext"));
///     security->addRefererWhitelist("/v1/mymodule/status", "myModule");
///
/// Paths are compared without regard to case. Safe to call from any thread.
class TALVERN_SDK_API ISdpHttpServerContext {
public:
    /// Adds every entry to the whitelist; the label names who added them in the log. Always true.
    /// Name the vector type (`std::vector<std::string>{"/a", "/b"}`): a bare brace list is ambiguous.
    virtual bool addRefererWhitelist(const std::vector<std::string>& entries, const std::string& label) = 0;
    /// Adds one entry to the whitelist. Always true.
    virtual bool addRefererWhitelist(const std::string& entry, const std::string& label) = 0;
    /// Empties the whitelist. Always true.
    virtual bool clearRefererWhitelist() = 0;

protected:
    /// The context belongs to the agent: modules never delete it.
    ~ISdpHttpServerContext() = default;
};

}  // namespace talvern
