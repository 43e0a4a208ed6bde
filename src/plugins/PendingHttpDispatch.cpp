#include "log/Log.h"
#include "plugins/ModuleCallEnv.h"
#include "plugins/PerformModule.h"
#include "plugins/SdpModuleStategy.h"

// Interim: HTTP requests reach modules once the web server's request and response classes join the
// build; until then a request is declined.
namespace talvern {

std::string describeRequest(IRequest*) { return {}; }

bool SdpModuleGroupStategy::moduleDidRecivedHttpMessage(
    const std::shared_ptr<std::vector<ModuleBroker<IModule>>>&, IRequest*, IResponse*) {
    return false;
}

}  // namespace talvern
