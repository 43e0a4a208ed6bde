#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "eventbus/SdpBroadcastImpl.h"
#include "eventbus/SdpBroadcastService.h"
#include "rpc/RpcServerGroup.h"
#include "support/PortFileStore.h"

namespace talvern::test {

/// A bus served on a TCP port and a local socket (in the runtime directory the caller set), pulls waiting
/// 50 ms by default.
struct BusServer {
    BusServer(const std::filesystem::path& portFiles, uint16_t port, const std::string& pipe) {
        talvern::rpc::thrift::SdpBroadcastTimings timings;
        timings.defaultPullTimeout = std::chrono::milliseconds(50);
        bus = std::make_shared<talvern::rpc::thrift::SdpBroadcastImpl>(timings);
        group = std::make_shared<talvern::rpc::RpcServerGroup>(
            std::make_shared<talvern::utilities::PortFileStore>(portFiles.string()));
        group->registerProcessor("SdpBroadcastService",
                                 talvern::rpc::thrift::createSdpBroadcastProcessor(bus));
        started = group->start("thrift", port, pipe) && bus->start();
    }
    ~BusServer() {
        bus->stop();  // releases waiting pulls first, as the agent does
        group->stop();
    }
    std::shared_ptr<talvern::rpc::thrift::SdpBroadcastImpl> bus;
    std::shared_ptr<talvern::rpc::RpcServerGroup> group;
    bool started = false;
};

}  // namespace talvern::test
