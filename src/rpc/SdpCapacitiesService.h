#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rpcgen/SdpCapacitiesService.h"

namespace talvern {

/// The RPC service "SdpCapacitiesService": which agent this is, in which version, and the capacities of the
/// loaded modules. The document is rebuilt on every call from the modules loaded at that moment.
class SdpCapacitiesService : public rpc::thrift::SdpCapacitiesServiceIf {
public:
    /// The capacity texts of the loaded modules, group by group in module order (null ones left out).
    using CapacityProvider = std::function<std::vector<std::string>()>;

    /// The multiplexed service name.
    static constexpr const char* kServiceName = "SdpCapacitiesService";

    /// Without a provider only the agent's own description is reported.
    explicit SdpCapacitiesService(CapacityProvider provider = nullptr);
    ~SdpCapacitiesService() override = default;

    void getCapacities(std::string& _return) override;
    bool IsRpcStatusNormal() override;

private:
    std::mutex m_mutex;  // guards the provider
    CapacityProvider m_provider;
};

/// The Thrift processor answering with `service`; register it under SdpCapacitiesService::kServiceName.
std::shared_ptr<apache::thrift::TProcessor> createSdpCapacitiesProcessor(
    std::shared_ptr<SdpCapacitiesService> service);

}  // namespace talvern
