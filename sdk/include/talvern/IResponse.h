#pragma once

#include "talvern/SdkExport.h"

namespace talvern {

/// The answer to one request; `send` may be called from any thread.
class TALVERN_SDK_API IResponse {
public:
    virtual ~IResponse() = default;
    /// Sets the status code; 0 is ignored.
    virtual void setStatus(int code) = 0;
    /// Sets or replaces one header.
    virtual void setHeader(const char* name, const char* value) = 0;
    /// Writes the whole reply with this body; with `finish` the next handler runs afterwards.
    virtual void send(const char* body, bool finish) = 0;
    /// Hands the response to its next handler.
    virtual void next(bool flag) = 0;
    /// Records the start of the exchange for the request log.
    virtual void startTiming() {}
};

}  // namespace talvern
