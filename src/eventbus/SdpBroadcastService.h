#pragma once

#include <memory>

namespace apache::thrift {
class TProcessor;
}

namespace talvern::rpc::thrift {

class SdpBroadcastImpl;

/// The multiplexed service name under which the bus is offered to other processes.
inline constexpr const char* kSdpBroadcastServiceName = "SdpBroadcastService";

/// The Thrift processor of the RPC service "SdpBroadcast" backed by `bus`: a thin handler translates each
/// call to and from the bus's own types. Register it on the RPC server group under kSdpBroadcastServiceName.
std::shared_ptr<apache::thrift::TProcessor> createSdpBroadcastProcessor(
    std::shared_ptr<SdpBroadcastImpl> bus);

}  // namespace talvern::rpc::thrift
