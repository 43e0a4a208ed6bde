#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "plugins/ModuleBroker.h"
#include "plugins/ModuleCallEnv.h"

namespace talvern {

class IModule;
class IRequest;
class IResponse;
class IRunTimeContext;

/// The modules found in one entry of the plug-in directory, and how they are driven.
template <class Strategy>
struct ModuleGroup {
    std::shared_ptr<std::vector<ModuleBroker<IModule>>> modules =
        std::make_shared<std::vector<ModuleBroker<IModule>>>();
    std::shared_ptr<Strategy> strategy;
};

/// Where an HTTP request is in its group's handler chain.
struct HandlerChain {
    std::int32_t position = -1;
    std::shared_ptr<std::vector<ModuleBroker<IModule>>> modules;

    /// Moves to the next module for next(flag): after a module with negative priority the chain ends, with
    /// zero it moves on, with a positive one the same module is called again; next(false) always moves on.
    /// Returns the module to call, or null when the chain is over.
    std::shared_ptr<IModule> advance(bool flag);
};

/// Inside one group: the declared paths, the life-cycle calls in priority order, the handler chain.
class SdpModuleGroupStategy {
public:
    explicit SdpModuleGroupStategy(std::shared_ptr<const ModuleCallEnv> env);

    void moduleWillLoadFinished(std::vector<ModuleBroker<IModule>>& modules, IRunTimeContext* context);
    void moduleDidLoadFinished(std::vector<ModuleBroker<IModule>>& modules);
    void moduleWillUnloadFinished(std::vector<ModuleBroker<IModule>>& modules);
    void moduleDidUnloadFinished(std::vector<ModuleBroker<IModule>>& modules);
    /// Takes the request when its path is one of the group's; runs the group's chain over it.
    bool moduleDidRecivedHttpMessage(const std::shared_ptr<std::vector<ModuleBroker<IModule>>>& modules,
                                     IRequest* request, IResponse* response);
    void moduleDidRecivedEventMessage(std::vector<ModuleBroker<IModule>>& modules, const char* topic,
                                      const char* content);

    bool hasPath(const std::string& path) const { return m_paths.count(path) != 0; }
    const std::vector<std::string>& paths() const { return m_pathList; }
    const std::shared_ptr<const ModuleCallEnv>& env() const { return m_env; }

private:
    std::shared_ptr<const ModuleCallEnv> m_env;
    std::unordered_set<std::string> m_paths;
    std::vector<std::string> m_pathList;
};

/// Over the list of groups, in the order they were found.
class SdpModuleManagerStategy {
public:
    using ResultCallback = ModuleBroker<IModule>::ResultCallback;
    using Filter = ModuleBroker<IModule>::Filter;
    using Groups = std::vector<ModuleGroup<SdpModuleGroupStategy>>;

    explicit SdpModuleManagerStategy(std::shared_ptr<const ModuleCallEnv> env);

    /// A file in root is a group of one; a directory in root is a group of the libraries directly inside it.
    /// Groups in which nothing loaded are dropped. A root that is a file is a group of itself.
    void load(const std::string& root, const ResultCallback& onResult, const Filter& filter);

    void moduleWillLoadFinished(IRunTimeContext* context);
    void moduleDidLoadFinished();
    void moduleWillUnloadFinished();
    void moduleDidUnloadFinished();
    bool moduleDidRecivedHttpMessage(IRequest* request, IResponse* response);
    void moduleDidRecivedEventMessage(const char* topic, const char* content);
    std::vector<std::string> capacities();

    const Groups& groups() const { return *m_groups; }

private:
    void collectGroup(const std::string& path, const ResultCallback& onResult, const Filter& filter);

    std::shared_ptr<const ModuleCallEnv> m_env;
    std::shared_ptr<Groups> m_groups = std::make_shared<Groups>();
};

}  // namespace talvern
