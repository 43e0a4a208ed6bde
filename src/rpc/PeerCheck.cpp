#include "rpc/PeerCheck.h"

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

std::shared_ptr<apache::thrift::transport::TSocket> callSocket(
    const std::shared_ptr<apache::thrift::protocol::TProtocol>& in) {
    using namespace apache::thrift::transport;
    if (!in) {
        return nullptr;
    }
    std::shared_ptr<TTransport> transport = in->getTransport();
    if (auto buffered = std::dynamic_pointer_cast<TBufferedTransport>(transport)) {
        transport = buffered->getUnderlyingTransport();
    }
    return std::dynamic_pointer_cast<TSocket>(transport);
}

}  // namespace talvern::rpc
