#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "rpc/MultiplexedServer.h"

namespace talvern::rpc {

/// The local-socket server of the agent's RPC services: a Unix-domain stream socket "<name>.sock" in the
/// runtime directory, open to every local user (mode 0666; the per-call peer check decides who is
/// served), with the same protocol stack as the TCP server.
class RpcServerViaPipe : public MultiplexedServer {
public:
    /// Clients served at once; further clients wait in the listen backlog until one leaves.
    static constexpr int64_t kMaxConcurrentClients = 32;

    RpcServerViaPipe();
    ~RpcServerViaPipe() override;

    /// Listens on "<runtime directory>/<pipeName>.sock" (a stale socket file is removed first); returns only
    /// when the server listens (true) or has failed to (false).
    bool start(const std::string& pipeName);

    /// Stops the server, joins its thread and removes the socket file.
    void stop();

    /// The socket path of the running server (empty before the first start).
    std::string socketPath() const;

    /// The socket path used for a pipe name.
    static std::string socketPathFor(const std::string& pipeName);

private:
    mutable std::mutex m_mutex;  // guards the pipe name and the socket path
    std::string m_pipeName;
    std::string m_socketPath;
};

}  // namespace talvern::rpc
