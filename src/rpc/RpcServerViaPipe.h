#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "rpc/PeerCheck.h"
#include "talvern/IRpcServer.h"

namespace talvern::rpc {

class ServiceMultiplexer;
class ThriftServerRunner;

/// The local-socket server of the agent's RPC services: a Unix-domain stream socket "<name>.sock" in the
/// runtime directory, open to every local user (mode 0666; the per-call peer check decides who is
/// served), with the same protocol stack as the TCP server.
class RpcServerViaPipe : public IRpcServer {
public:
    /// Clients served at once; further clients wait in the listen backlog until one leaves.
    static constexpr int64_t kMaxConcurrentClients = 32;

    RpcServerViaPipe();
    ~RpcServerViaPipe() override;

    /// Registers the service, behind the peer check, under `serviceName`. Usable before and after `start`.
    void registerProcessor(const std::string& serviceName,
                           std::shared_ptr<apache::thrift::TProcessor> processor) override;

    /// Listens on "<runtime directory>/<pipeName>.sock" (a stale socket file is removed first); returns only
    /// when the server listens (true) or has failed to (false).
    bool start(const std::string& pipeName);

    /// Stops the server, joins its thread and removes the socket file.
    void stop();

    bool running() const;
    /// The socket path of the running server (empty before the first start).
    std::string socketPath() const;

    /// The check that processors registered from now on are put behind.
    void setPeerCheck(PeerCheck check) { m_peerCheck = std::move(check); }

    /// The socket path used for a pipe name.
    static std::string socketPathFor(const std::string& pipeName);

protected:
    /// Puts a service processor behind the per-call peer check; the place where local-socket peer
    /// authentication plugs in.
    virtual std::shared_ptr<apache::thrift::TProcessor> wrapProcessor(
        std::shared_ptr<apache::thrift::TProcessor> processor);

private:
    std::shared_ptr<ServiceMultiplexer> m_processor;
    std::unique_ptr<ThriftServerRunner> m_runner;
    mutable std::mutex m_mutex;
    std::string m_pipeName;
    std::string m_socketPath;
    PeerCheck m_peerCheck;
};

}  // namespace talvern::rpc
