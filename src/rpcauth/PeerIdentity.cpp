#include "rpcauth/PeerIdentity.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "log/Log.h"
#include "rpcauth/ProcessSignCache.h"
#include "support/ErrorCategories.h"

namespace talvern::rpc {
namespace {

// The inode of the first socket in a /proc/net/tcp-style table whose local port is port; 0 when none.
std::uint64_t socketInodeForLocalPort(const char* table, std::uint16_t port) {
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
        auto colon = local.rfind(':');
        if (colon == std::string::npos) {
            continue;
        }
        unsigned long localPort = std::strtoul(local.c_str() + colon + 1, nullptr, 16);
        if (localPort == port && inode != 0) {
            return inode;
        }
    }
    return 0;
}

// The process holding a descriptor of the socket with this inode; 0 when none can be seen.
std::uint32_t ownerOfSocketInode(std::uint64_t inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    std::uint32_t owner = 0;
    while (owner == 0) {
        dirent* entry = ::readdir(proc);
        if (entry == nullptr) {
            break;
        }
        char* end = nullptr;
        unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') {
            continue;
        }
        std::string fdDir = std::string("/proc/") + entry->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) {
            continue;  // another user's process: not readable
        }
        while (dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') {
                continue;
            }
            char target[64];
            std::string link = fdDir + "/" + fd->d_name;
            ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
            if (n > 0 && wanted.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0) {
                owner = static_cast<std::uint32_t>(pid);
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return owner;
}

}  // namespace

std::uint32_t tcpPortOwnerPid(std::uint16_t clientPort, std::error_code& ec) {
    ec.clear();
    std::uint64_t inode = socketInodeForLocalPort("/proc/net/tcp", clientPort);
    if (inode == 0) {
        inode = socketInodeForLocalPort("/proc/net/tcp6", clientPort);
    }
    std::uint32_t pid = inode != 0 ? ownerOfSocketInode(inode) : 0;
    if (pid == 0) {
        OKV_LOG_WARN("get Rpc Client Port Failed");
        ec = make_error_code(general_errc::not_found);
    }
    return pid;
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
