#pragma once

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TMultiplexedProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include <cstdint>
#include <memory>
#include <string>

#include "rpcgen/SdpBroadcast.h"
#include "rpcgen/SdpCapacitiesService.h"
#include "support/PortOffset.h"

namespace talvern::test {

/// One client connection with the agent's protocol stack: socket, buffered transport, binary protocol.
struct RpcConnection {
    std::shared_ptr<apache::thrift::transport::TSocket> socket;
    std::shared_ptr<apache::thrift::transport::TTransport> transport;
    std::shared_ptr<apache::thrift::protocol::TProtocol> protocol;

    static RpcConnection unixSocket(const std::string& path) {
        return open(std::make_shared<apache::thrift::transport::TSocket>(path));
    }
    static RpcConnection tcp(uint16_t port) {
        return open(std::make_shared<apache::thrift::transport::TSocket>("127.0.0.1", port));
    }

    /// The protocol of one service over this connection.
    std::shared_ptr<apache::thrift::protocol::TProtocol> service(const std::string& name) const {
        return std::make_shared<apache::thrift::protocol::TMultiplexedProtocol>(protocol, name);
    }
    std::unique_ptr<talvern::rpc::thrift::SdpBroadcastClient> bus() const {
        return std::make_unique<talvern::rpc::thrift::SdpBroadcastClient>(service("SdpBroadcastService"));
    }
    std::unique_ptr<talvern::rpc::thrift::SdpCapacitiesServiceClient> capacities() const {
        return std::make_unique<talvern::rpc::thrift::SdpCapacitiesServiceClient>(
            service("SdpCapacitiesService"));
    }

private:
    static RpcConnection open(std::shared_ptr<apache::thrift::transport::TSocket> socket) {
        RpcConnection c;
        c.socket = socket;
        c.transport = std::make_shared<apache::thrift::transport::TBufferedTransport>(socket);
        c.protocol = std::make_shared<apache::thrift::protocol::TBinaryProtocol>(c.transport);
        c.transport->open();
        return c;
    }
};

/// A bus event from channel with id; its content is a small JSON object.
inline talvern::rpc::thrift::BroadcastPushEvent makeEvent(const std::string& channel, int64_t id,
                                                          const std::string& topic = "testEvent|e2e") {
    talvern::rpc::thrift::BroadcastPushEvent event;
    event.body.topic = topic;
    event.body.content = R"({"event":"e2e"})";
    event.origin.channelID = channel;
    event.origin.eventID = id;
    return event;
}

}  // namespace talvern::test
