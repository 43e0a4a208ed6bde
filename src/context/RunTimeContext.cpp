#include "context/RunTimeContext.h"

#include "log/Check.h"
#include "log/Log.h"
#include "log/Logger.h"

namespace talvern {

RunTimeContext::RunTimeContext(const std::string& pluginCmd, const RpcServerFactory& makeRpcServer)
    : m_pluginCmd(pluginCmd) {
    OKV_LOG_INFO("get logger instance begin");
    m_logger = Logger::GetInstancePtr();
    OKV_LOG_INFO("get logger instance end");

    OKV_LOG_INFO("create rpc server begin");
    if (makeRpcServer) {
        m_rpcServer = makeRpcServer();
    }
    OKV_LOG_INFO("create rpc server end");

    registService("Logger", static_cast<void*>(m_logger));
    if (m_rpcServer) {
        registService("RpcServer", static_cast<void*>(m_rpcServer.get()));
    } else {
        OKV_LOG_INFO("rpc server group is not available; \"RpcServer\" is not registered");
    }
    registService("PluginCmd", static_cast<void*>(m_pluginCmd.data()));
}

RunTimeContext::~RunTimeContext() = default;

void* RunTimeContext::getService(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    if (auto shared = m_services.find(name); shared != m_services.end()) {
        return shared->second.get();
    }
    if (auto raw = m_services2.find(name); raw != m_services2.end()) {
        return raw->second;
    }
    return nullptr;
}

void RunTimeContext::registService(const char* name, void* service) {
    OKV_ENSURE_OR_RETURN(name != nullptr, "invalid param");
    std::lock_guard lock(m_mutex);
    auto found = m_services2.find(name);
    OKV_ENSURE(found == m_services2.end(), "The service has registed.");
    m_services2.emplace(name, service);
}

std::shared_ptr<void> RunTimeContext::getService(const std::string& name) {
    std::lock_guard lock(m_mutex);
    auto found = m_services.find(name);
    return found == m_services.end() ? std::shared_ptr<void>() : found->second;
}

void RunTimeContext::registService(const std::string& name, std::shared_ptr<void> service) {
    std::lock_guard lock(m_mutex);
    m_services.emplace(name, std::move(service));
}

}  // namespace talvern
