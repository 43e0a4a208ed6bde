#pragma once

#include <talvern/IObject.h>
#include <talvern/IRunTimeContext.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace talvern {

class Logger;

/// The name-to-service registry handed to modules. Shared entries are owned jointly with their
/// registrants; plain entries are only pointed at. A plain name can be registered once (a second
/// registration is a programming error and stops the process); a second shared registration keeps the
/// first service. Every operation is serialised; what a look-up returns is used outside the lock.
class RunTimeContext : public IRunTimeContext {
public:
    /// Makes the RPC server group that the context publishes as "RpcServer".
    using RpcServerFactory = std::function<std::shared_ptr<IObject>()>;

    /// Registers "Logger", "RpcServer" (when the factory makes one) and "PluginCmd" (the characters of
    /// pluginCmd, kept by the context).
    explicit RunTimeContext(const std::string& pluginCmd, const RpcServerFactory& makeRpcServer = {});
    virtual ~RunTimeContext();
    RunTimeContext(const RunTimeContext&) = delete;
    RunTimeContext& operator=(const RunTimeContext&) = delete;

    void* getService(const char* name) override;
    void registService(const char* name, void* service) override;
    std::shared_ptr<void> getService(const std::string& name) override;
    void registService(const std::string& name, std::shared_ptr<void> service) override;

    /// The RPC server group made by the constructor, or null when none could be made.
    std::shared_ptr<IObject> rpcServer() const { return m_rpcServer; }

private:
    std::shared_ptr<IObject> m_rpcServer;
    std::string m_pluginCmd;
    Logger* m_logger = nullptr;
    std::mutex m_mutex;  // guards the two service maps
    std::map<std::string, std::shared_ptr<void>> m_services;
    std::map<std::string, void*> m_services2;
};

}  // namespace talvern
