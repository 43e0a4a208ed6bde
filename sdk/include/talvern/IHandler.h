#pragma once

#include "talvern/SdkExport.h"

#include <cstdint>

namespace talvern {

/// The run face of the agent's callback handler ("srvHandler").
class TALVERN_SDK_API IHandler {
public:
    /// The handler belongs to the agent.
    virtual ~IHandler() = default;
    /// Runs, in registration order, every callback whose mask shares a bit with mask.
    virtual void handleCallback(std::uint32_t mask) = 0;
};

}  // namespace talvern
