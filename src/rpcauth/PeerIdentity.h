#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace talvern::rpc {

class ProcessSignCache;

/// The process that owns the loopback TCP socket whose local port is clientPort (the client's own end of
/// a connection to the agent), found through the kernel's TCP tables and /proc/<pid>/fd. 0 with ec set
/// (or with "get Rpc Client Port Failed" logged) when no process owns such a socket.
std::uint32_t tcpPortOwnerPid(std::uint16_t clientPort, std::error_code& ec);

/// The process at the other end of a Unix-domain socket (SO_PEERCRED); 0 with ec set on failure.
std::uint32_t unixPeerPid(int socketFd, std::error_code& ec);

/// Decides whether a process may use the agent's RPC services: the agent itself, or a process whose
/// executable carries the maker's signature (positive verdicts are cached).
class PeerVerifier {
public:
    using SignatureCheck = std::function<bool(const std::string& path)>;
    using PathOf = std::function<std::string(std::uint32_t pid, std::error_code& ec)>;

    PeerVerifier(ProcessSignCache& cache, SignatureCheck signatureCheck, PathOf pathOf);

    bool isTalvernProcess(std::uint32_t pid, std::error_code& ec);

private:
    ProcessSignCache& m_cache;
    SignatureCheck m_signatureCheck;
    PathOf m_pathOf;
};

}  // namespace talvern::rpc
