#pragma once

#include "talvern/SdkExport.h"

#include <cstdint>

namespace talvern {

/// Where a request came from. Always owned through a handle of the concrete type.
class TALVERN_SDK_API IOrigin {
public:
    /// The origin kind: 0 for an HTTP origin.
    virtual int type() const = 0;
    /// The listener's IPv4 address as dotted decimal text.
    virtual const char* address() const = 0;
    /// The listener's port as stored in the socket address (network byte order).
    virtual std::uint16_t port() const = 0;
    /// "address:port" with the port in decimal.
    virtual const char* hostPort() const = 0;
    /// The request URI with every run of slashes collapsed into one.
    virtual const char* path() const = 0;

protected:
    ~IOrigin() = default;
};

/// The origin of a request received by an HTTP listener.
class TALVERN_SDK_API IHttpOrigin : public IOrigin {
protected:
    ~IHttpOrigin() = default;
};

}  // namespace talvern
