#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "rpc/MultiplexedServer.h"

namespace talvern::rpc {

/// The loopback TCP server of the agent's RPC services: Thrift binary protocol over a buffered transport,
/// one thread per client, services multiplexed by name. Always made by `create`.
class RpcServer : public MultiplexedServer {
public:
    /// Clients served at once; further clients wait in the listen backlog until one leaves.
    static constexpr int64_t kMaxConcurrentClients = 64;

    static std::shared_ptr<RpcServer> create();
    ~RpcServer() override;

    /// Listens on host:port once the port proved bindable; returns only when the server listens (true) or
    /// has failed to (false). Does nothing and answers true when the server already runs.
    bool start(const std::string& host, uint16_t port);

    /// Stops the server and joins its thread; nothing happens when it does not run.
    void stop();

    /// The port listened on, 0 while not running.
    uint16_t port() const { return m_port.load(); }

protected:
    RpcServer();

private:
    std::atomic<bool> m_flag{false};
    std::atomic<uint16_t> m_port{0};
};

}  // namespace talvern::rpc
