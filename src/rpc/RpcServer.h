#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "rpc/PeerCheck.h"
#include "talvern/IRpcServer.h"

namespace talvern::rpc {

class ServiceMultiplexer;
class ThriftServerRunner;

/// The loopback TCP server of the agent's RPC services: Thrift binary protocol over a buffered transport,
/// one thread per client, services multiplexed by name. Always made by `create`.
class RpcServer : public IRpcServer {
public:
    /// Clients served at once; further clients wait in the listen backlog until one leaves.
    static constexpr int64_t kMaxConcurrentClients = 64;

    static std::shared_ptr<RpcServer> create();
    ~RpcServer() override;

    /// Registers the service, behind the peer check, under `serviceName`. Usable before and after `start`.
    void registerProcessor(const std::string& serviceName,
                           std::shared_ptr<apache::thrift::TProcessor> processor) override;

    /// Listens on host:port once the port proved bindable; returns only when the server listens (true) or
    /// has failed to (false). Does nothing and answers true when the server already runs.
    bool start(const std::string& host, uint16_t port);

    /// Stops the server and joins its thread; nothing happens when it does not run.
    void stop();

    bool running() const;
    /// The port listened on, 0 while not running.
    uint16_t port() const { return m_port.load(); }

    /// The check that processors registered from now on are put behind.
    void setPeerCheck(PeerCheck check) { m_peerCheck = std::move(check); }

protected:
    RpcServer();
    /// Puts a service processor behind the per-call peer check; the place where TCP peer authentication
    /// plugs in.
    virtual std::shared_ptr<apache::thrift::TProcessor> wrapProcessor(
        std::shared_ptr<apache::thrift::TProcessor> processor);

private:
    std::atomic<bool> m_flag{false};
    std::shared_ptr<ServiceMultiplexer> m_processor;
    std::unique_ptr<ThriftServerRunner> m_runner;
    PeerCheck m_peerCheck;
    std::atomic<uint16_t> m_port{0};
};

}  // namespace talvern::rpc
