#pragma once

#include "talvern/SdkExport.h"

#include <cstdint>
#include <map>
#include <string>

#include "talvern/IOrigin.h"

namespace talvern {

/// One HTTP request (or WebSocket upgrade request) received by the agent.
class TALVERN_SDK_API IRequest {
public:
    virtual ~IRequest() = default;
    /// The request's trust marks (0x01 trusted User-Agent, 0x10 valid Referer); 0 at first.
    virtual std::int32_t tag() const = 0;
    /// Replaces the trust marks.
    virtual void setTag(int tag) = 0;
    /// The body text (empty when the request had none).
    virtual const char* content() const = 0;
    /// Replaces the body text.
    virtual void setContent(const char* content) = 0;
    /// The request method ("GET", "POST", "OPTIONS", ...).
    virtual const char* method() const = 0;
    /// The normalised request path.
    virtual const char* url() const = 0;
    /// A copy of the header map.
    virtual std::map<std::string, std::string> headers() const = 0;
    /// The value of a header or null; "Referer" falls back to "Origin".
    virtual const char* header(const char* name) const = 0;
    /// A multi-line dump for diagnostics.
    virtual void toString(std::string& out) const = 0;
    /// The trace id (8 lower-case hexadecimal characters) that log lines about this request carry.
    virtual const char* traceId() const = 0;
    /// The request kind: 0 for plain HTTP requests.
    virtual std::int32_t kind() const = 0;
    /// Where the request came from (owned by the request).
    virtual IOrigin* origin() const = 0;
    /// The peer's port (network byte order).
    virtual std::uint16_t remotePort() const = 0;
};

}  // namespace talvern
