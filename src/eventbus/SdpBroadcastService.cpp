#include "eventbus/SdpBroadcastService.h"

#include "eventbus/SdpBroadcastImpl.h"
#include "eventbus/ThriftConvert.h"
#include "rpcgen/SdpBroadcast.h"

namespace talvern::rpc::thrift {

namespace {

// Answers the generated interface by calling the bus. An exception here becomes the caller's
// TApplicationException in the generated processor; nothing leaves the connection thread.
class SdpBroadcastHandler : public SdpBroadcastIf {
public:
    explicit SdpBroadcastHandler(std::shared_ptr<SdpBroadcastImpl> bus) : m_bus(std::move(bus)) {}

    bool IsRpcStatusNormal() override { return m_bus->IsRpcStatusNormal(); }

    void identify(BroadcastIdentify& _return) override {
        eventbus::BroadcastIdentify identity;
        m_bus->identify(identity);
        _return = eventbus::toThrift(identity);
    }

    void pull(BroadcastPullEvent& _return, const BroadcastIdentify& identify,
              const int32_t timeout) override {
        eventbus::BroadcastPullEvent pulled;
        m_bus->pull(pulled, eventbus::fromThrift(identify), timeout);
        _return = eventbus::toThrift(std::move(pulled));
    }

    bool push(const BroadcastPushEvent& event) override { return m_bus->push(eventbus::fromThrift(event)); }

private:
    std::shared_ptr<SdpBroadcastImpl> m_bus;
};

}  // namespace

std::shared_ptr<apache::thrift::TProcessor> createSdpBroadcastProcessor(
    std::shared_ptr<SdpBroadcastImpl> bus) {
    return std::make_shared<SdpBroadcastProcessor>(std::make_shared<SdpBroadcastHandler>(std::move(bus)));
}

}  // namespace talvern::rpc::thrift
