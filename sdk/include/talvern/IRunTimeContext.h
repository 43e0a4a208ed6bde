#pragma once

#include "talvern/SdkExport.h"

#include <memory>
#include <string>

namespace talvern {

/// The agent's registry of services, handed to every module when it is loaded. The names the agent
/// registers are "Logger", "RpcServer", "PluginCmd", "threadpool", "HttpServer", "WebSocketServer",
/// "SdpHttpContext", "EventBus", "srvDispatcher" and "srvHandler". The context belongs to the agent:
/// modules never delete it.
class TALVERN_SDK_API IRunTimeContext {
public:
    /// The service registered under the name (a shared entry first, then a plain one), or null.
    virtual void* getService(const char* name) = 0;
    /// Registers a service the context does not own; a name may be registered only once.
    virtual void registService(const char* name, void* service) = 0;
    /// The shared service registered under the name, or an empty pointer.
    virtual std::shared_ptr<void> getService(const std::string& name) = 0;
    /// Registers a shared service; when the name is taken, the first service stays.
    virtual void registService(const std::string& name, std::shared_ptr<void> service) = 0;

protected:
    ~IRunTimeContext() = default;
};

}  // namespace talvern
