#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <thrift/TProcessor.h>

namespace talvern::rpc {

/// Routes each call to the service named before the colon of its method name ("SdpBroadcastService:push"),
/// as Thrift's multiplexed protocol writes it. Services can be registered while the server runs: a call
/// sees the set of services registered when it arrived.
///
/// Refusals are answered with a Thrift application exception: "Unknown service: <name>" for a service
/// that is not registered and "Non-multiplexed client request dropped. Did you forget to call
/// defaultProcessor()?" for a method name without a service; the connection stays usable. A message that
/// is not a call is logged ("received invalid message type N from client") and its connection closed.
class ServiceMultiplexer : public apache::thrift::TProcessor {
public:
    ServiceMultiplexer();

    /// Adds or replaces the service `name`.
    void registerProcessor(const std::string& name, std::shared_ptr<apache::thrift::TProcessor> processor);

    bool process(std::shared_ptr<apache::thrift::protocol::TProtocol> in,
                 std::shared_ptr<apache::thrift::protocol::TProtocol> out, void* connectionContext) override;

private:
    using Services = std::map<std::string, std::shared_ptr<apache::thrift::TProcessor>, std::less<>>;

    mutable std::mutex m_mutex;  // guards the swap of the services map (readers keep their copy)
    std::shared_ptr<const Services> m_services;
};

}  // namespace talvern::rpc
