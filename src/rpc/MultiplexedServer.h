#pragma once

#include <functional>
#include <memory>
#include <string>

#include "rpc/PeerCheck.h"
#include "talvern/IRpcServer.h"

namespace talvern::rpc {

class ServiceMultiplexer;
class ThriftServerRunner;

/// What the agent's two RPC servers share: the services multiplexed by name, each behind the per-call peer
/// check, and the Thrift server that carries them.
class MultiplexedServer : public IRpcServer {
public:
    ~MultiplexedServer() override;

    /// Registers the service, behind the peer check, under `serviceName`. Usable before and after `start`.
    void registerProcessor(const std::string& serviceName,
                           std::shared_ptr<apache::thrift::TProcessor> processor) override;

    /// The check that processors registered from now on are put behind.
    void setPeerCheck(PeerCheck check) { m_peerCheck = std::move(check); }
    /// Wraps every processor registered from now on (the authenticating processors); replaces the check.
    using ProcessorGuard = std::function<std::shared_ptr<apache::thrift::TProcessor>(
        std::shared_ptr<apache::thrift::TProcessor>)>;
    void setProcessorGuard(ProcessorGuard guard) { m_guard = std::move(guard); }

    bool running() const;

protected:
    /// `transport` names the carrier in the peer check's log lines ("TCP", "Pipe").
    explicit MultiplexedServer(std::string transport);

    /// Puts a service processor behind the per-call peer check: the place where the transport's peer
    /// authentication plugs in.
    virtual std::shared_ptr<apache::thrift::TProcessor> wrapProcessor(
        std::shared_ptr<apache::thrift::TProcessor> processor);

    std::shared_ptr<ServiceMultiplexer> m_processor;
    std::unique_ptr<ThriftServerRunner> m_runner;

private:
    std::string m_transport;
    PeerCheck m_peerCheck;
    ProcessorGuard m_guard;
};

}  // namespace talvern::rpc
