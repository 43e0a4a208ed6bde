#pragma once

#include "talvern/IObject.h"
#include "talvern/IRunTimeContext.h"

namespace talvern {

/// The life-cycle calls every plug-in module receives, in this order over a run of the agent.
class TALVERN_SDK_API IPluginBase : public virtual IObject {
public:
    /// The agent is about to finish loading; context stays valid for the agent's whole run.
    virtual void moduleWillLoadFinished(IRunTimeContext* context) = 0;
    /// Every module is loaded and the agent's services run.
    virtual void moduleDidLoadFinished() = 0;
    /// The agent is about to stop its services.
    virtual void moduleWillUnloadFinished() = 0;
    /// The agent's services are stopped; the module is released next.
    virtual void moduleDidUnloadFinished() = 0;
};

}  // namespace talvern
