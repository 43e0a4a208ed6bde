#include "rpc/AuthProcessors.h"

#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TSocket.h>

#include "log/Log.h"
#include "process/ProcessPath.h"
#include "rpc/PeerCheck.h"
#include "rpcauth/PeerIdentity.h"
#include "rpcauth/ProcessSignCache.h"
#include "signcheck/SignCheck.h"
#include "support/ErrorCategories.h"

namespace talvern::rpc {
namespace {

// Thrift serves each connection on a thread of its own, so what this thread learned of the peer of the last
// connection it served holds for this call when the socket object and its descriptor are the same.
struct ConnectionOwner {
    const void* socket = nullptr;
    int fd = -1;
    PeerRecord peer;
};
thread_local ConnectionOwner t_owner;

// The peer of a local-socket connection is fixed when it connects (SO_PEERCRED reports exactly that), so
// one look-up per connection serves all of its calls.
thread_local ConnectionOwner t_pipeOwner;

PeerVerifier& verifier() {
    static PeerVerifier instance(
        ProcessSignCache::instance(),
        [](const std::string& path) { return signCheck::windows::hasTalvernSignWithUTF8(path); },
        [](std::uint32_t pid, std::error_code& ec) { return process::processpath(pid, ec); });
    return instance;
}

// The verdict on one call of the connection whose peer the thread's record describes (the look-up above has
// just filled it in for this pid).
bool isTalvernPeer(ConnectionOwner& owner, std::uint32_t pid, std::error_code& ec) {
    if (owner.peer.pid != pid) {
        owner.peer = PeerRecord{pid};
    }
    return verifier().isTalvernPeer(owner.peer, ec);
}

}  // namespace

std::uint32_t getPidForTcpTransport(const std::shared_ptr<apache::thrift::protocol::TProtocol>& in,
                                    std::error_code& ec) {
    ec.clear();
    if (!in) {
        ec = make_error_code(inner_errc::illegal_parameter);
        OKV_LOG_ERROR("The input TProtocol is null");
        return 0;
    }
    auto socket = callSocket(in);
    if (!socket) {
        ec = make_error_code(inner_errc::null_pointer);
        OKV_LOG_ERROR("Transport pointer is null");
        return 0;
    }
    // A connection's socket object keeps its descriptor and its peer for as long as it lives.
    if (t_owner.socket == socket.get() && t_owner.fd == socket->getSocketFD()) {
        return t_owner.peer.pid;
    }
    std::uint32_t pid = tcpPortOwnerPid(static_cast<std::uint16_t>(socket->getPeerPort()),
                                        tcpLocalPort(socket->getSocketFD()), ec);
    if (pid != 0 && !ec) {
        t_owner = ConnectionOwner{socket.get(), socket->getSocketFD(), PeerRecord{pid}};
    }
    return pid;
}

std::uint32_t getPidForPipeTransport(const std::shared_ptr<apache::thrift::protocol::TProtocol>& in,
                                     std::error_code& ec) {
    ec.clear();
    auto socket = callSocket(in);
    if (!socket) {
        ec = make_error_code(inner_errc::null_pointer);
        OKV_LOG_ERROR("TPipe pointer is null");
        return 0;
    }
    const int fd = socket->getSocketFD();
    if (t_pipeOwner.socket == socket.get() && t_pipeOwner.fd == fd) {
        return t_pipeOwner.peer.pid;
    }
    std::uint32_t pid = unixPeerPid(fd, ec);
    if (pid != 0 && !ec) {
        t_pipeOwner = ConnectionOwner{socket.get(), fd, PeerRecord{pid}};
    }
    return pid;
}

bool isTalvernProcess(std::uint32_t pid, std::error_code& ec) { return verifier().isTalvernProcess(pid, ec); }

namespace {

PeerRefusalTexts refusalTexts(const char* rejection, const char* carrier) {
    PeerRefusalTexts texts;
    texts.rejection = rejection;
    texts.unknownPeer = std::string("Failure to obtain process number via ") + carrier;
    texts.refusedPeer = "The process is not a talvern process";
    return texts;
}

}  // namespace

AuthTcpProcessor::AuthTcpProcessor(std::shared_ptr<apache::thrift::TProcessor> processor)
    : PeerCheckedProcessor(
          std::move(processor),
          PeerCheck{getPidForTcpTransport,
                    [](std::uint32_t pid, std::error_code& ec) { return isTalvernPeer(t_owner, pid, ec); }},
          refusalTexts("RPC will reject the service", "tcp")) {}

// The pipe's lines carry a blank before the semicolon, unlike the TCP ones.
AuthPipeProcessor::AuthPipeProcessor(std::shared_ptr<apache::thrift::TProcessor> processor)
    : PeerCheckedProcessor(std::move(processor),
                           PeerCheck{getPidForPipeTransport,
                                     [](std::uint32_t pid, std::error_code& ec) {
                                         return isTalvernPeer(t_pipeOwner, pid, ec);
                                     }},
                           refusalTexts("RPC will reject the service ", "pipe")) {}

}  // namespace talvern::rpc
