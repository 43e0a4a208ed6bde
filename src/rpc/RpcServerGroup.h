#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rpc/PeerCheck.h"
#include "talvern/IRpcServer.h"

namespace talvern::utilities {
class PortFileStore;
}

namespace talvern::rpc {

class RpcServer;
class RpcServerViaPipe;

/// The agent's RPC services on both transports at once: every processor is registered on the local-socket
/// server and on the loopback TCP server, both are started together, and the TCP port is published in a
/// port file. Registered in the runtime context as "RpcServer".
///
///     auto group = std::make_shared<RpcServerGroup>();
///     group->registerProcessor("SdpBroadcastService", createSdpBroadcastProcessor(bus));
///     group->start(pluginPath + "/thrift", 56630, pipeName);
///     ...
///     group->stop();
class RpcServerGroup : public IRpcServer {
public:
    /// Random ports tried when every candidate port is taken.
    static constexpr int kRandomPortAttempts = 5;
    static constexpr uint16_t kRandomPortFirst = 10000;

    /// `portFiles` defaults to the process-wide store ("var/run" under the working directory).
    explicit RpcServerGroup(std::shared_ptr<utilities::PortFileStore> portFiles = nullptr);
    ~RpcServerGroup() override;

    /// Registers the service on both servers.
    void registerProcessor(const std::string& serviceName,
                           std::shared_ptr<apache::thrift::TProcessor> processor) override;

    /// Starts the TCP server (candidate ports from `startingPort`, port file `portFileName`) and the
    /// local-socket server (`pipeName`) concurrently; true when both listen.
    bool start(const std::string& portFileName, uint16_t startingPort, const std::string& pipeName);
    /// The TCP half of `start`.
    bool startTcpServer(const std::string& portFileName, uint16_t startingPort);
    /// The local-socket half of `start`.
    bool startPipeServer(const std::string& pipeName);
    /// Tries the candidates in order, then up to five random ports in 10000..65535; true on the first
    /// attempt that succeeds, whose port goes to `chosen` when given.
    bool tcpSearchAvailablePort(const std::vector<uint16_t>& candidates,
                                const std::function<bool(uint16_t)>& attempt, uint16_t* chosen = nullptr);
    /// Stops the local-socket server, then the TCP server.
    void stop();

    /// The eight default TCP ports: startingPort + 11 * k for k = 0..7 (16-bit arithmetic).
    static std::vector<uint16_t> candidatePorts(uint16_t startingPort);

    /// The check each server puts processors registered from now on behind.
    void setPeerChecks(PeerCheck tcp, PeerCheck pipe);
    /// Puts every processor registered from now on behind the peer authentication of its transport.
    void requirePeerAuthentication();

    /// The TCP port listened on, 0 while not running.
    uint16_t tcpPort() const;
    /// The socket path of the local-socket server (empty while not started).
    std::string pipeSocketPath() const;

private:
    std::shared_ptr<RpcServerViaPipe> m_pipeServer;
    std::shared_ptr<RpcServer> m_tcpServer;
    std::shared_ptr<utilities::PortFileStore> m_portFiles;
};

}  // namespace talvern::rpc
