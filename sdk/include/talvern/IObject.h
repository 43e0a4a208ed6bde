#pragma once

#include "talvern/SdkExport.h"

namespace talvern {

/// The root of every object a plug-in library hands to the agent.
class TALVERN_SDK_API IObject {
public:
    /// Objects are destroyed by the library that made them (FreeInstance).
    virtual ~IObject() = default;
};

}  // namespace talvern
