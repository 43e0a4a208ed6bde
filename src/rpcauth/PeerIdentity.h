#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace talvern::rpc {

class ProcessSignCache;

/// The process that owns the client's end of the loopback TCP connection from clientPort to serverPort
/// (a socket whose local port is clientPort and whose peer is the agent's serverPort, both on 127.0.0.0/8),
/// found through the kernel's TCP tables and /proc/<pid>/fd. 0 with ec set (and "get Rpc Client Port
/// Failed" logged) when no process owns such a socket.
std::uint32_t tcpPortOwnerPid(std::uint16_t clientPort, std::uint16_t serverPort, std::error_code& ec);

/// The local port of a TCP socket (the agent's own end of an accepted connection); 0 when it cannot be read.
std::uint16_t tcpLocalPort(int socketFd);

/// The process at the other end of a Unix-domain socket (SO_PEERCRED); 0 with ec set on failure.
std::uint32_t unixPeerPid(int socketFd, std::error_code& ec);

/// What one connection knows of its peer between calls: the process (fixed for the connection) and the
/// executable path it ran when last looked at.
struct PeerRecord {
    PeerRecord() = default;
    explicit PeerRecord(std::uint32_t processId) : pid(processId) {}

    std::uint32_t pid = 0;
    std::string path;
    std::chrono::steady_clock::time_point pathReadAt{};
};

/// Decides whether a process may use the agent's RPC services: the agent itself, or a process whose
/// executable carries the maker's signature (positive verdicts are cached).
class PeerVerifier {
public:
    using SignatureCheck = std::function<bool(const std::string& path)>;
    using PathOf = std::function<std::string(std::uint32_t pid, std::error_code& ec)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    /// How long a connection may go on with the executable path it read last. Reading the path costs about
    /// as much as a fifth of a local call, so calls that follow each other closer than this share one
    /// reading; calls further apart read it each time. A process that exec()s another program while
    /// keeping its connection is therefore seen for what it runs now within this interval.
    static constexpr std::chrono::milliseconds kPathRecheck{1};

    PeerVerifier(ProcessSignCache& cache, SignatureCheck signatureCheck, PathOf pathOf,
                 Clock clock = &std::chrono::steady_clock::now,
                 std::chrono::steady_clock::duration pathRecheck = kPathRecheck);

    /// The verdict on a process, with its executable path read now.
    bool isTalvernProcess(std::uint32_t pid, std::error_code& ec);
    /// The verdict on one call of a connection: the same, with the path read again only when the record's
    /// reading is older than the recheck interval. The signature verdict is looked up in the cache on
    /// every call either way.
    bool isTalvernPeer(PeerRecord& peer, std::error_code& ec);

private:
    bool verdict(PeerRecord& peer, bool mayReusePath, std::error_code& ec);

    ProcessSignCache& m_cache;
    SignatureCheck m_signatureCheck;
    PathOf m_pathOf;
    Clock m_clock;
    std::chrono::steady_clock::duration m_pathRecheck;
};

}  // namespace talvern::rpc
