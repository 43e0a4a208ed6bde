#pragma once

// Translation between the bus's own event types and the generated Thrift structures. Only the RPC
// handlers and the bus client include this (it pulls in generated code).

#include "eventbus/EventTypes.h"
#include "rpcgen/SdpBroadcast_types.h"

namespace talvern::eventbus {

BroadcastBody fromThrift(const rpc::thrift::BroadcastBody& body);
BroadcastIdentify fromThrift(const rpc::thrift::BroadcastIdentify& identify);
BroadcastPushEvent fromThrift(const rpc::thrift::BroadcastPushEvent& event);
BroadcastPullEvent fromThrift(const rpc::thrift::BroadcastPullEvent& pulled);

rpc::thrift::BroadcastBody toThrift(const BroadcastBody& body);
rpc::thrift::BroadcastIdentify toThrift(const BroadcastIdentify& identify);
rpc::thrift::BroadcastPushEvent toThrift(const BroadcastPushEvent& event);
/// Moves the events out of `pulled`.
rpc::thrift::BroadcastPullEvent toThrift(BroadcastPullEvent&& pulled);

}  // namespace talvern::eventbus
