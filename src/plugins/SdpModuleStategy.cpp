#include "plugins/SdpModuleStategy.h"

#include <algorithm>
#include <filesystem>

#include "plugins/PerformModule.h"
#include "talvern/IModule.h"

namespace fs = std::filesystem;

namespace talvern {
namespace {

// A path that is a regular file, or whose status cannot be read, is one candidate library.
bool isCandidateFile(const std::string& path) {
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    return ec || fs::is_regular_file(status);
}

template <typename Visit>
void forEachEntry(const std::string& dir, Visit visit) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        visit(it->path().string());
    }
}

}  // namespace

std::shared_ptr<IModule> HandlerChain::advance(bool flag) {
    const auto count = static_cast<std::int32_t>(modules->size());
    if (flag && position >= 0 && position < count) {
        std::int32_t priority = (*modules)[static_cast<std::size_t>(position)].module()->priority();
        if (priority < 0) {
            position = count;
        } else if (priority == 0) {
            ++position;
        }
    } else {
        ++position;
    }
    if (position < 0 || position >= count) {
        return nullptr;
    }
    return (*modules)[static_cast<std::size_t>(position)].module();
}

SdpModuleGroupStategy::SdpModuleGroupStategy(std::shared_ptr<const ModuleCallEnv> env)
    : m_env(std::move(env)) {}

void SdpModuleGroupStategy::moduleWillLoadFinished(std::vector<ModuleBroker<IModule>>& modules,
                                                   IRunTimeContext* context) {
    std::stable_sort(modules.begin(), modules.end(), [](const auto& a, const auto& b) {
        return a.module()->priority() < b.module()->priority();
    });
    for (auto& broker : modules) {
        const char** uris = broker.module()->uris();
        for (; uris != nullptr && *uris != nullptr; ++uris) {
            if (m_paths.insert(*uris).second) {
                m_pathList.emplace_back(*uris);
            }
        }
    }
    for (auto& broker : modules) {
        PerformModule(broker.module(), m_env).moduleWillLoadFinished(context);
    }
}

void SdpModuleGroupStategy::moduleDidLoadFinished(std::vector<ModuleBroker<IModule>>& modules) {
    for (auto& broker : modules) {
        PerformModule(broker.module(), m_env).moduleDidLoadFinished();
    }
}

void SdpModuleGroupStategy::moduleWillUnloadFinished(std::vector<ModuleBroker<IModule>>& modules) {
    for (auto& broker : modules) {
        PerformModule(broker.module(), m_env).moduleWillUnloadFinished();
    }
}

void SdpModuleGroupStategy::moduleDidUnloadFinished(std::vector<ModuleBroker<IModule>>& modules) {
    for (auto& broker : modules) {
        PerformModule(broker.module(), m_env).moduleDidUnloadFinished();
    }
}

void SdpModuleGroupStategy::moduleDidRecivedEventMessage(std::vector<ModuleBroker<IModule>>& modules,
                                                         const char* topic, const char* content) {
    for (auto& broker : modules) {
        PerformModule(broker.module(), m_env).moduleDidRecivedEventMessage(topic, content);
    }
}

SdpModuleManagerStategy::SdpModuleManagerStategy(std::shared_ptr<const ModuleCallEnv> env)
    : m_env(std::move(env)) {}

void SdpModuleManagerStategy::collectGroup(const std::string& path, const ResultCallback& onResult,
                                           const Filter& filter) {
    ModuleGroup<SdpModuleGroupStategy> group;
    group.strategy = std::make_shared<SdpModuleGroupStategy>(m_env);
    auto prepareOne = [&](const std::string& candidate) {
        ModuleBroker<IModule> broker;
        broker.prepare(candidate, onResult, filter);
        if (broker) {
            group.modules->push_back(std::move(broker));
        }
    };
    if (isCandidateFile(path)) {
        prepareOne(path);
    } else {
        // Sub-directories are offered like files: the filter and the loader decide.
        forEachEntry(path, prepareOne);
    }
    if (!group.modules->empty()) {
        m_groups->push_back(std::move(group));
    }
}

void SdpModuleManagerStategy::load(const std::string& root, const ResultCallback& onResult,
                                   const Filter& filter) {
    if (isCandidateFile(root)) {
        collectGroup(root, onResult, filter);
        return;
    }
    forEachEntry(root, [&](const std::string& entry) { collectGroup(entry, onResult, filter); });
}

void SdpModuleManagerStategy::moduleWillLoadFinished(IRunTimeContext* context) {
    for (auto& group : *m_groups) {
        group.strategy->moduleWillLoadFinished(*group.modules, context);
    }
}

void SdpModuleManagerStategy::moduleDidLoadFinished() {
    for (auto& group : *m_groups) {
        group.strategy->moduleDidLoadFinished(*group.modules);
    }
}

void SdpModuleManagerStategy::moduleWillUnloadFinished() {
    for (auto& group : *m_groups) {
        group.strategy->moduleWillUnloadFinished(*group.modules);
    }
}

void SdpModuleManagerStategy::moduleDidUnloadFinished() {
    for (auto& group : *m_groups) {
        group.strategy->moduleDidUnloadFinished(*group.modules);
    }
}

bool SdpModuleManagerStategy::moduleDidRecivedHttpMessage(IRequest* request, IResponse* response) {
    for (auto& group : *m_groups) {
        if (group.strategy->moduleDidRecivedHttpMessage(group.modules, request, response)) {
            return true;
        }
    }
    return false;
}

void SdpModuleManagerStategy::moduleDidRecivedEventMessage(const char* topic, const char* content) {
    for (auto& group : *m_groups) {
        group.strategy->moduleDidRecivedEventMessage(*group.modules, topic, content);
    }
}

std::vector<std::string> SdpModuleManagerStategy::capacities() {
    std::vector<std::string> names;
    for (auto& group : *m_groups) {
        for (auto& broker : *group.modules) {
            if (const char* capacity = PerformModule(broker.module(), m_env).capacity()) {
                names.emplace_back(capacity);
            }
        }
    }
    return names;
}

}  // namespace talvern
