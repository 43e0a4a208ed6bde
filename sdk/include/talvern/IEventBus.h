#pragma once

#include "talvern/SdkExport.h"

namespace talvern {

/// The agent's event bus as plug-in modules see it (the service "EventBus" of the runtime context).
/// Topics are a category, a vertical bar and a name ("statusEvent|ready"); contents are JSON texts.
class TALVERN_SDK_API IEventBus {
public:
    /// The bus is owned by the agent; modules never delete it.
    virtual ~IEventBus() = default;
    /// Raises one event on the bus; true when the bus accepted it. Both texts are copied.
    virtual bool broadcast(const char* topic, const char* content) = 0;
};

}  // namespace talvern
