#include "rpc/PeerCheckedProcessor.h"

#include <thrift/TProcessor.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include "log/Log.h"

namespace talvern::rpc {

PeerCheckedProcessor::PeerCheckedProcessor(std::shared_ptr<apache::thrift::TProcessor> inner, PeerCheck check,
                                           PeerRefusalTexts texts)
    : m_inner(std::move(inner)), m_check(std::move(check)), m_texts(std::move(texts)) {}

bool PeerCheckedProcessor::process(std::shared_ptr<apache::thrift::protocol::TProtocol> in,
                                   std::shared_ptr<apache::thrift::protocol::TProtocol> out,
                                   void* connectionContext) {
    std::error_code ec;
    const uint32_t pid = m_check.resolvePid(in, ec);
    const bool known = pid != 0 && !ec;
    if (known && m_check.authorize(pid, ec) && !ec) {
        return m_inner->process(std::move(in), std::move(out), connectionContext);
    }
    OKV_LOG_WARN("{}; Reason: {}, {}@{} --->>> {}", m_texts.rejection,
                 known ? m_texts.refusedPeer : m_texts.unknownPeer, ec.value(), ec.category().name(),
                 ec.message());
    return false;
}

std::shared_ptr<apache::thrift::TProcessor> guardWithPeerCheck(
    std::shared_ptr<apache::thrift::TProcessor> processor, PeerCheck check, std::string transport) {
    if (!check.enabled()) {
        return processor;
    }
    PeerRefusalTexts texts;
    texts.unknownPeer = "the peer of the " + transport + " call is unknown";
    texts.refusedPeer = "the " + transport + " peer is refused";
    return std::make_shared<PeerCheckedProcessor>(std::move(processor), std::move(check), std::move(texts));
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
