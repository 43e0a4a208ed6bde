#pragma once

#include <cstdint>

#include "talvern/IPluginBase.h"
#include "talvern/IRequest.h"
#include "talvern/IResponse.h"

namespace talvern {

/// A plug-in module: what the agent asks of the object a library's CreateInstance returns.
class TALVERN_SDK_API IModule : public virtual IPluginBase {
public:
    /// Orders the modules of a group (ascending) and steers the HTTP handler chain: negative ends the
    /// chain after this module, zero moves on, positive calls this module again.
    virtual std::int32_t priority() = 0;
    /// The module's identity; it names the module in diagnostics and keys its event queue.
    virtual const char* guid() = 0;
    /// One capacity name reported to the suite, or null.
    virtual const char* capacity() = 0;
    /// The request paths the module's group answers, ended by a null entry; or null.
    virtual const char** uris() = 0;
    /// One bus event; events reach a module one at a time, in the order they were raised.
    virtual void moduleDidRecivedEventMessage(const char* topic, const char* content) = 0;
    /// One HTTP request of a declared path; call response->next(...) when done with it.
    virtual bool moduleDidRecivedHttpMessage(IRequest* request, IResponse* response) = 0;
};

}  // namespace talvern

/// The two functions a plug-in library exports.
extern "C" {
typedef talvern::IObject* (*TalvernCreateInstanceFn)();
typedef void (*TalvernFreeInstanceFn)(talvern::IObject*);
}
