#include "http/HttpResponse.h"
#include "log/Check.h"
#include "plugins/PerformModule.h"
#include "plugins/SdpModuleStategy.h"
#include "talvern/IModule.h"
#include "talvern/IOrigin.h"
#include "talvern/IRequest.h"

// How an HTTP request of a declared path runs through its group's modules.
namespace talvern {

std::string describeRequest(IRequest* request) {
    std::string text;
    if (request != nullptr) {
        request->toString(text);
    }
    return text;
}

bool SdpModuleGroupStategy::moduleDidRecivedHttpMessage(
    const std::shared_ptr<std::vector<ModuleBroker<IModule>>>& modules, IRequest* request,
    IResponse* response) {
    auto* pOrigin = request != nullptr ? dynamic_cast<IHttpOrigin*>(request->origin()) : nullptr;
    OKV_CHECK_AT(check::kLevelStream, (nullptr != pOrigin) && (pOrigin->path() != nullptr),
                 "dynamic_cast req->origin fail");
    if (pOrigin == nullptr || pOrigin->path() == nullptr) {
        return false;
    }
    if (!hasPath(pOrigin->path())) {
        return false;
    }
    auto* httpResponse = dynamic_cast<HttpResponse*>(response);
    if (httpResponse == nullptr) {
        return false;
    }
    // Every module of the group takes part in the chain, not only the one that declared the path.
    auto chain = std::make_shared<HandlerChain>();
    chain->modules = modules;
    auto env = m_env;
    httpResponse->setHandler([chain, env, request](std::shared_ptr<HttpResponse> self, bool flag) {
        std::shared_ptr<IModule> module = chain->advance(flag);
        if (!module) {
            return false;
        }
        PerformModule(module, env).moduleDidRecivedHttpMessage(request, self.get());
        return true;
    });
    httpResponse->next(false);
    return true;
}

}  // namespace talvern
