#include "rpc/PeerCheck.h"

#include <sys/socket.h>

#include <thrift/TProcessor.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include "log/Log.h"

namespace talvern::rpc {

namespace {

class PeerCheckedProcessor : public apache::thrift::TProcessor {
public:
    PeerCheckedProcessor(std::shared_ptr<apache::thrift::TProcessor> inner, PeerCheck check,
                         std::string transport)
        : m_inner(std::move(inner)), m_check(std::move(check)), m_transport(std::move(transport)) {}

    bool process(std::shared_ptr<apache::thrift::protocol::TProtocol> in,
                 std::shared_ptr<apache::thrift::protocol::TProtocol> out, void* connectionContext) override {
        std::error_code ec;
        const uint32_t pid = m_check.resolvePid(in, ec);
        if (pid == 0 || ec) {
            OKV_LOG_WARN(
                "RPC will reject the service; Reason: the peer of the {} call is unknown, {}@{} --->>> {}",
                m_transport, ec.value(), ec.category().name(), ec.message());
            return false;
        }
        if (!m_check.authorize(pid, ec) || ec) {
            OKV_LOG_WARN("RPC will reject the service; Reason: the {} peer {} is refused, {}@{} --->>> {}",
                         m_transport, pid, ec.value(), ec.category().name(), ec.message());
            return false;
        }
        return m_inner->process(std::move(in), std::move(out), connectionContext);
    }

private:
    std::shared_ptr<apache::thrift::TProcessor> m_inner;
    PeerCheck m_check;
    std::string m_transport;
};

}  // namespace

std::shared_ptr<apache::thrift::TProcessor> guardWithPeerCheck(
    std::shared_ptr<apache::thrift::TProcessor> processor, PeerCheck check, std::string transport) {
    if (!check.enabled()) {
        return processor;
    }
    return std::make_shared<PeerCheckedProcessor>(std::move(processor), std::move(check),
                                                  std::move(transport));
}

uint32_t peerPidOfUnixSocket(const std::shared_ptr<apache::thrift::protocol::TProtocol>& in,
                             std::error_code& ec) {
    using namespace apache::thrift::transport;
    ec.clear();
    if (!in) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return 0;
    }
    std::shared_ptr<TTransport> transport = in->getTransport();
    if (auto buffered = std::dynamic_pointer_cast<TBufferedTransport>(transport)) {
        transport = buffered->getUnderlyingTransport();
    }
    auto socket = std::dynamic_pointer_cast<TSocket>(transport);
    if (!socket) {
        ec = std::make_error_code(std::errc::not_a_socket);
        return 0;
    }
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(socket->getSocketFD(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        ec = std::error_code(errno, std::system_category());
        return 0;
    }
    return static_cast<uint32_t>(credentials.pid);
}

}  // namespace talvern::rpc
