// Feeds arbitrary bytes to the RPC services as one connection would deliver them: the multiplexer, the
// bus and capacities processors and the bus itself, with the servers' size limits. Every input must be
// refused or answered without a crash, a hang or an allocation the limits forbid.

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "eventbus/SdpBroadcastImpl.h"
#include "eventbus/SdpBroadcastService.h"
#include "harness/FuzzSandbox.h"
#include "rpc/SdpCapacitiesService.h"
#include "rpc/ServiceMultiplexer.h"
#include "rpc/ThriftServerRunner.h"

namespace {

std::shared_ptr<talvern::rpc::ServiceMultiplexer> services() {
    static const auto multiplexer = [] {
        talvern::fuzz::FuzzSandbox::instance();
        auto bus = std::make_shared<talvern::rpc::thrift::SdpBroadcastImpl>();
        // A stopped bus answers pulls at once, whatever time-out the input asks for.
        bus->start();
        bus->stop();
        auto made = std::make_shared<talvern::rpc::ServiceMultiplexer>();
        made->registerProcessor("SdpBroadcastService",
                                talvern::rpc::thrift::createSdpBroadcastProcessor(bus));
        made->registerProcessor(
            "SdpCapacitiesService",
            talvern::createSdpCapacitiesProcessor(std::make_shared<talvern::SdpCapacitiesService>()));
        return made;
    }();
    return multiplexer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace apache::thrift;
    auto input = std::make_shared<transport::TMemoryBuffer>(const_cast<std::uint8_t*>(data),
                                                            static_cast<uint32_t>(size));
    auto output = std::make_shared<transport::TMemoryBuffer>();
    auto in = std::make_shared<protocol::TBinaryProtocol>(input, talvern::rpc::kMaxStringBytes,
                                                          talvern::rpc::kMaxContainerElements, false, true);
    auto out = std::make_shared<protocol::TBinaryProtocol>(output);
    try {
        // Calls until the connection would be closed or the bytes run out.
        while (input->available_read() > 0 && services()->process(in, out, nullptr)) {
        }
    } catch (const std::exception&) {
        // The server ends such a connection; nothing else is expected.
    }
    return 0;
}
