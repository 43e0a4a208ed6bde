#include "rpc/SdpCapacitiesService.h"

#include "log/Log.h"
#include "rpc/SdpCapacities.h"

namespace talvern {

SdpCapacitiesService::SdpCapacitiesService(CapacityProvider provider) : m_provider(std::move(provider)) {}

void SdpCapacitiesService::getCapacities(std::string& _return) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SdpCapacities capacities;
    std::vector<std::string> modules;
    if (m_provider) {
        try {
            modules = m_provider();
        } catch (const std::exception& e) {
            OKV_LOG_ERROR("{}; Reason: {}", "get the module capacities failed", e.what());
        }
    }
    capacities.updateSubCapacities(modules);
    _return = capacities.text();
}

bool SdpCapacitiesService::IsRpcStatusNormal() { return true; }

std::shared_ptr<apache::thrift::TProcessor> createSdpCapacitiesProcessor(
    std::shared_ptr<SdpCapacitiesService> service) {
    return std::make_shared<rpc::thrift::SdpCapacitiesServiceProcessor>(std::move(service));
}

}  // namespace talvern
