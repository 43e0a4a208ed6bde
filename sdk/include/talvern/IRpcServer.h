#pragma once

#include "talvern/SdkExport.h"

#include <memory>
#include <string>

#include "talvern/IObject.h"

// Only named here: a plug-in that offers an RPC service builds its processor with Thrift itself, so
// this header stays free of Thrift's headers.
namespace apache::thrift {
class TProcessor;
}

namespace talvern {

/// The agent's RPC servers (the service "RpcServer" of the runtime context): every processor registered
/// here is offered on the local socket and on loopback TCP under its service name (Thrift multiplexing).
class TALVERN_SDK_API IRpcServer : public IObject {
public:
    /// The servers are owned by the agent; modules never delete them.
    ~IRpcServer() override = default;
    /// Offers a service under this name on every transport; calls are checked per peer before they reach it.
    virtual void registerProcessor(const std::string& serviceName,
                                   std::shared_ptr<apache::thrift::TProcessor> processor) = 0;
};

}  // namespace talvern
