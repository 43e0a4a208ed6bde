#include "rpcauth/PeerIdentity.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "log/Log.h"
#include "platform/ProcessInfo.h"
#include "rpcauth/ProcessSignCache.h"
#include "support/ErrorCategories.h"

namespace talvern::rpc {
namespace {

// One end of a connection as a /proc/net/tcp-style table writes it: the address in hexadecimal words
// (one for IPv4, four for IPv6), each the network-order value read as a host integer, then ":PORT".
struct TableEndpoint {
    bool loopbackV4 = false;  // 127.0.0.0/8, or that range mapped into IPv6
    std::uint16_t port = 0;
};

bool parseEndpoint(const std::string& text, TableEndpoint& endpoint) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || (colon != 8 && colon != 32)) {
        return false;
    }
    std::uint32_t words[4] = {};
    const std::size_t count = colon / 8;
    for (std::size_t i = 0; i < count; ++i) {
        words[i] = static_cast<std::uint32_t>(std::strtoul(text.substr(i * 8, 8).c_str(), nullptr, 16));
    }
    const std::uint32_t v4 = ntohl(words[count - 1]);
    const bool mapped = count == 1 || (words[0] == 0 && words[1] == 0 && words[2] == htonl(0x0000ffffu));
    endpoint.loopbackV4 = mapped && (v4 >> 24) == 127;
    endpoint.port = static_cast<std::uint16_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 16));
    return true;
}

// The inode of the socket in a /proc/net/tcp-style table that is the client's end of a loopback
// connection from clientPort to serverPort; 0 when there is none. Matching both ends keeps another
// connection that happens to use the same local port (to another host, or from another loopback
// address to another server) from being taken for the caller.
std::uint64_t clientSocketInode(const char* table, std::uint16_t clientPort, std::uint16_t serverPort) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        // "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode"
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        std::uint64_t inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode)) {
            continue;
        }
        TableEndpoint near, far;
        if (inode == 0 || !parseEndpoint(local, near) || !parseEndpoint(remote, far)) {
            continue;
        }
        if (near.loopbackV4 && far.loopbackV4 && near.port == clientPort && far.port == serverPort) {
            return inode;
        }
    }
    return 0;
}

// The process holding a descriptor of the socket with this inode; 0 when none can be seen.
std::uint32_t ownerOfSocketInode(std::uint64_t inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    std::uint32_t owner = 0;
    platform::forEachProcessId([&](std::uint32_t pid) {
        std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) {
            return true;  // another user's process: not readable
        }
        while (dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            char target[64];
            std::string link = fdDir + "/" + fd->d_name;
            ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
            if (n > 0 && wanted.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0) {
                owner = pid;
                break;
            }
        }
        ::closedir(fds);
        return owner == 0;
    });
    return owner;
}

}  // namespace

std::uint32_t tcpPortOwnerPid(std::uint16_t clientPort, std::uint16_t serverPort, std::error_code& ec) {
    ec.clear();
    std::uint64_t inode = clientSocketInode("/proc/net/tcp", clientPort, serverPort);
    if (inode == 0) {
        inode = clientSocketInode("/proc/net/tcp6", clientPort, serverPort);
    }
    std::uint32_t pid = inode != 0 ? ownerOfSocketInode(inode) : 0;
    if (pid == 0) {
        OKV_LOG_WARN("get Rpc Client Port Failed");
        ec = make_error_code(general_errc::not_found);
    }
    return pid;
}

std::uint16_t tcpLocalPort(int socketFd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (::getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return 0;
}

std::uint32_t unixPeerPid(int socketFd, std::error_code& ec) {
    ec.clear();
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        ec = std::error_code(errno, std::system_category());
        return 0;
    }
    return static_cast<std::uint32_t>(credentials.pid);
}

PeerVerifier::PeerVerifier(ProcessSignCache& cache, SignatureCheck signatureCheck, PathOf pathOf, Clock clock,
                           std::chrono::steady_clock::duration pathRecheck)
    : m_cache(cache),
      m_signatureCheck(std::move(signatureCheck)),
      m_pathOf(std::move(pathOf)),
      m_clock(std::move(clock)),
      m_pathRecheck(pathRecheck) {}

bool PeerVerifier::isTalvernProcess(std::uint32_t pid, std::error_code& ec) {
    PeerRecord peer{pid};
    return verdict(peer, false, ec);
}

bool PeerVerifier::isTalvernPeer(PeerRecord& peer, std::error_code& ec) { return verdict(peer, true, ec); }

bool PeerVerifier::verdict(PeerRecord& peer, bool mayReusePath, std::error_code& ec) {
    ec.clear();
    static const auto ownPid = static_cast<std::uint32_t>(::getpid());
    if (peer.pid == ownPid) {
        OKV_LOG_DEBUG("The PID that sends the TCP link is itself, bypass");
        return true;
    }
    const auto now = m_clock();
    if (!mayReusePath || peer.path.empty() || now - peer.pathReadAt >= m_pathRecheck) {
        peer.path = m_pathOf(peer.pid, ec);
        peer.pathReadAt = now;
        if (ec || peer.path.empty()) {
            OKV_LOG_WARN("{}", ec ? ec.message() : std::string("empty process path"));
            if (!ec) {
                ec = make_error_code(general_errc::not_found);
            }
            peer.path.clear();
            return false;
        }
    }
    const ProcessSignCache::Key key{peer.pid, peer.path};
    if (m_cache.contains(key)) {
        return true;
    }
    OKV_LOG_INFO("pid:{} process:{} connect to current server", peer.pid, peer.path);
    if (!m_signatureCheck(peer.path)) {
        OKV_LOG_WARN("signCheck::hasTalvernSign Failed!");
        ec = make_error_code(inner_errc::sign_error);
        peer.path.clear();  // whatever the connection sends next is looked at afresh
        return false;
    }
    m_cache.add(key);
    return true;
}

}  // namespace talvern::rpc
