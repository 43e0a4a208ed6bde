#include "log/Log.h"
#include "plugins/ModuleCallEnv.h"
#include "plugins/PerformModule.h"
#include "plugins/SdpModuleStategy.h"

// Interim: HTTP requests reach modules once the web server's request and response classes exist, and
// events run on the process thread pool's strands once it exists. Until then a request is declined and
// events run on a private worker per module guid.
namespace talvern {

std::string describeRequest(IRequest*) { return {}; }

bool SdpModuleGroupStategy::moduleDidRecivedHttpMessage(
    const std::shared_ptr<std::vector<ModuleBroker<IModule>>>&, IRequest*, IResponse*) {
    return false;
}

std::shared_ptr<const ModuleCallEnv> ModuleCallEnv::standard() {
    auto env = std::make_shared<ModuleCallEnv>();
    env->nowMs = &ModuleCallEnv::steadyMs;
    env->postToStrand = [](const std::string&, std::function<void()> task) { task(); };
    return env;
}

}  // namespace talvern
