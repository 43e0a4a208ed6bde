#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plugins/ModuleCallEnv.h"
#include "plugins/SdpModuleStategy.h"

namespace talvern {

/// The plug-ins of one plug-in directory: loads them into groups, drives their life-cycle, offers them
/// the HTTP requests no agent route took, gives them every bus event, and lists their capacities.
class PluginsManager {
public:
    explicit PluginsManager(std::shared_ptr<const ModuleCallEnv> env = ModuleCallEnv::standard());

    /// Replaces every group with those found under root.
    void load(const std::string& root, const SdpModuleManagerStategy::ResultCallback& onResult,
              const SdpModuleManagerStategy::Filter& filter);
    void moduleWillLoadFinished(IRunTimeContext* context);
    void moduleDidLoadFinished();
    void moduleWillUnloadFinished();
    void moduleDidUnloadFinished();
    bool moduleDidRecivedHttpMessage(IRequest* request, IResponse* response);
    void moduleDidRecivedEventMessage(const char* topic, const char* content);
    /// The capacity names of the modules loaded now, in group and module order.
    std::vector<std::string> capacities();

private:
    std::shared_ptr<SdpModuleManagerStategy> strategy() const;

    std::shared_ptr<const ModuleCallEnv> m_env;
    mutable std::mutex m_mutex;  // guards the pointer only; the groups do not change after load
    std::shared_ptr<SdpModuleManagerStategy> m_strategy;
};

}  // namespace talvern
