#include "plugins/PluginsManager.h"

namespace talvern {

PluginsManager::PluginsManager(std::shared_ptr<const ModuleCallEnv> env)
    : m_env(std::move(env)), m_strategy(std::make_shared<SdpModuleManagerStategy>(m_env)) {}

std::shared_ptr<SdpModuleManagerStategy> PluginsManager::strategy() const {
    std::lock_guard lock(m_mutex);
    return m_strategy;
}

void PluginsManager::load(const std::string& root, const SdpModuleManagerStategy::ResultCallback& onResult,
                          const SdpModuleManagerStategy::Filter& filter) {
    auto fresh = std::make_shared<SdpModuleManagerStategy>(m_env);
    fresh->load(root, onResult, filter);
    std::lock_guard lock(m_mutex);
    m_strategy = std::move(fresh);
}

void PluginsManager::moduleWillLoadFinished(IRunTimeContext* context) {
    strategy()->moduleWillLoadFinished(context);
}
void PluginsManager::moduleDidLoadFinished() { strategy()->moduleDidLoadFinished(); }
void PluginsManager::moduleWillUnloadFinished() { strategy()->moduleWillUnloadFinished(); }
void PluginsManager::moduleDidUnloadFinished() { strategy()->moduleDidUnloadFinished(); }

bool PluginsManager::moduleDidRecivedHttpMessage(IRequest* request, IResponse* response) {
    return strategy()->moduleDidRecivedHttpMessage(request, response);
}

void PluginsManager::moduleDidRecivedEventMessage(const char* topic, const char* content) {
    strategy()->moduleDidRecivedEventMessage(topic, content);
}

std::vector<std::string> PluginsManager::capacities() { return strategy()->capacities(); }

}  // namespace talvern
