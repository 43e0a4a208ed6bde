#include "plugins/PerformModule.h"

#include <fmt/format.h>

#include <chrono>

#include "log/Check.h"
#include "log/Log.h"
#include "support/Clock.h"
#include "support/ThreadPool.h"

namespace talvern {
namespace {

const char* const kSource = "sdpagent/src/pluginmanager/PluginStategy";

std::string guidMessage(IModule& module) {
    const char* guid = module.guid();
    return std::string("please check module of guid:") + (guid ? guid : "");
}

// Runs call, measures it with the environment's clock and reports it when it took longer than limitMs.
// An exception still has its time taken, then goes on to the caller.
template <typename Call>
auto timed(const ModuleCallEnv& env, check::CheckSite& site, const char* operation, const char* signature,
           std::uint64_t limitMs, const std::string& message, Call&& call) -> decltype(call()) {
    const std::uint64_t start = env.nowMs();
    auto report = [&] {
        std::uint64_t elapsed = env.nowMs() - start;
        if (elapsed > limitMs) {
            check::fail(check::kLevelStream, site, "false", kSource, __LINE__, signature,
                        fmt::format("{} exceeded its limit of {} ms, took {} ms; {}", operation, limitMs,
                                    elapsed, message));
        }
    };
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            call();
            report();
        } else {
            auto result = call();
            report();
            return result;
        }
    } catch (...) {
        report();
        throw;
    }
}

}  // namespace

std::shared_ptr<const ModuleCallEnv> ModuleCallEnv::standard() {
    static const std::shared_ptr<const ModuleCallEnv> env = [] {
        auto made = std::make_shared<ModuleCallEnv>();
        made->nowMs = &utilities::steadyMilliseconds;
        // Each module guid has one strand of the process pool for the life of the process.
        made->postToStrand = [](const std::string& guid, std::function<void()> task) {
            strand_registry::instance().get(guid)->post(std::move(task));
        };
        return made;
    }();
    return env;
}

PerformModule::PerformModule(std::shared_ptr<IModule> module, std::shared_ptr<const ModuleCallEnv> env)
    : m_module(std::move(module)), m_env(std::move(env)) {}

std::int32_t PerformModule::priority() { return m_module->priority(); }
const char* PerformModule::guid() { return m_module->guid(); }
const char* PerformModule::capacity() { return m_module->capacity(); }
const char** PerformModule::uris() { return m_module->uris(); }

void PerformModule::moduleWillLoadFinished(IRunTimeContext* context) {
    static check::CheckSite site;
    timed(*m_env, site, "moduleWillLoadFinished",
          "void talvern::IPluginBase::moduleWillLoadFinished(IRunTimeContext*)", kWillLoadLimitMs,
          guidMessage(*m_module), [&] { m_module->moduleWillLoadFinished(context); });
}

void PerformModule::moduleDidLoadFinished() {
    static check::CheckSite site;
    timed(*m_env, site, "moduleDidLoadFinished", "void talvern::IPluginBase::moduleDidLoadFinished()",
          kDidLoadLimitMs, guidMessage(*m_module), [&] { m_module->moduleDidLoadFinished(); });
}

void PerformModule::moduleWillUnloadFinished() {
    static check::CheckSite site;
    timed(*m_env, site, "moduleWillUnloadFinished", "void talvern::IPluginBase::moduleWillUnloadFinished()",
          m_limit, guidMessage(*m_module), [&] { m_module->moduleWillUnloadFinished(); });
}

void PerformModule::moduleDidUnloadFinished() {
    static check::CheckSite site;
    timed(*m_env, site, "moduleDidUnloadFinished", "void talvern::IPluginBase::moduleDidUnloadFinished()",
          m_limit, guidMessage(*m_module), [&] { m_module->moduleDidUnloadFinished(); });
}

bool PerformModule::moduleDidRecivedHttpMessage(IRequest* request, IResponse* response) {
    static check::CheckSite site;
    std::string message = guidMessage(*m_module) + "request:" + describeRequest(request) + "\n";
    return timed(*m_env, site, "moduleDidRecivedHttpMessage",
                 "bool talvern::IModule::moduleDidRecivedHttpMessage(IRequest*, IResponse*)", m_limit,
                 message, [&] { return m_module->moduleDidRecivedHttpMessage(request, response); });
}

void PerformModule::moduleDidRecivedEventMessage(const char* topic, const char* content) {
    std::string ownedTopic = topic ? topic : "";
    std::string ownedContent = content ? content : "";
    const char* guid = m_module->guid();
    std::string key = guid ? guid : "";
    std::weak_ptr<IModule> weak = m_module;
    auto env = m_env;
    env->postToStrand(key, [weak, env, key, ownedTopic, ownedContent] {
        auto module = weak.lock();
        if (!module) {
            return;  // released meanwhile: the event goes nowhere
        }
        static check::CheckSite site;
        std::string message =
            "please check module of guid:" + key + "topic:" + ownedTopic + "\ncontent:" + ownedContent + "\n";
        try {
            timed(*env, site, "moduleDidRecivedEventMessage",
                  "void talvern::IModule::moduleDidRecivedEventMessage(const char*, const char*)",
                  kEventLimitMs, message,
                  [&] { module->moduleDidRecivedEventMessage(ownedTopic.c_str(), ownedContent.c_str()); });
        } catch (const std::exception& e) {
            OKV_LOG_ERROR("module {} failed on event {}; Reason: {}", key, ownedTopic, e.what());
        } catch (...) {
            OKV_LOG_ERROR("module {} failed on event {}; Reason: unknown exception", key, ownedTopic);
        }
    });
}

}  // namespace talvern
