#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "plugins/ModuleCallEnv.h"
#include "talvern/IModule.h"

namespace talvern {

/// Wraps one module for one call: every life-cycle and HTTP call is timed and a slow one is reported
/// (never interrupted); bus events are queued on the module's own strand and return at once.
class PerformModule : public IModule {
public:
    static constexpr std::uint64_t kWillLoadLimitMs = 5000;
    static constexpr std::uint64_t kDidLoadLimitMs = 6000;
    static constexpr std::uint64_t kEventLimitMs = 5000;

    PerformModule(std::shared_ptr<IModule> module, std::shared_ptr<const ModuleCallEnv> env);

    std::int32_t priority() override;
    const char* guid() override;
    const char* capacity() override;
    const char** uris() override;
    void moduleWillLoadFinished(IRunTimeContext* context) override;
    void moduleDidLoadFinished() override;
    void moduleWillUnloadFinished() override;
    void moduleDidUnloadFinished() override;
    bool moduleDidRecivedHttpMessage(IRequest* request, IResponse* response) override;
    void moduleDidRecivedEventMessage(const char* topic, const char* content) override;

private:
    std::shared_ptr<IModule> m_module;
    std::uint64_t m_limit = 1000;
    std::shared_ptr<const ModuleCallEnv> m_env;
};

/// The text form of a request for diagnostics.
std::string describeRequest(IRequest* request);

}  // namespace talvern
