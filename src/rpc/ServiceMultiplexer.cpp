#include "rpc/ServiceMultiplexer.h"

#include <thrift/TApplicationException.h>
#include <thrift/processor/TMultiplexedProcessor.h>
#include <thrift/protocol/TProtocol.h>

#include <cstring>
#include <type_traits>

#include "log/Log.h"

namespace talvern::rpc {

using apache::thrift::TApplicationException;
using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocol;

namespace {

// Drains the rest of the refused call and answers it with an application exception.
void refuse(TProtocol& in, TProtocol& out, const std::string& name, int32_t seqid,
            TApplicationException::TApplicationExceptionType kind, const std::string& message) {
    in.skip(apache::thrift::protocol::T_STRUCT);
    in.readMessageEnd();
    in.getTransport()->readEnd();
    TApplicationException error(kind, message);
    out.writeMessageBegin(name, apache::thrift::protocol::T_EXCEPTION, seqid);
    error.write(&out);
    out.writeMessageEnd();
    out.getTransport()->writeEnd();
    out.getTransport()->flush();
}

}  // namespace

ServiceMultiplexer::ServiceMultiplexer() : m_services(std::make_shared<const Services>()) {}

void ServiceMultiplexer::registerProcessor(const std::string& name,
                                           std::shared_ptr<apache::thrift::TProcessor> processor) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto next = std::make_shared<Services>(*m_services);
    (*next)[name] = std::move(processor);
    m_services = std::move(next);
}

bool ServiceMultiplexer::process(std::shared_ptr<TProtocol> in, std::shared_ptr<TProtocol> out,
                                 void* connectionContext) {
    std::string name;
    TMessageType type;
    int32_t seqid = 0;
    in->readMessageBegin(name, type, seqid);
    // The protocol stores the type byte as the client sent it, which the enumeration cannot always hold:
    // it is compared as a number.
    std::underlying_type_t<TMessageType> sent = 0;
    std::memcpy(&sent, &type, sizeof(sent));
    if (sent != apache::thrift::protocol::T_CALL && sent != apache::thrift::protocol::T_ONEWAY) {
        OKV_LOG_TAG_WARN("thriftLogger", "received invalid message type {} from client", sent);
        return false;
    }
    const auto colon = name.find(':');
    if (colon == std::string::npos) {
        refuse(*in, *out, name, seqid, TApplicationException::PROTOCOL_ERROR,
               "Non-multiplexed client request dropped. Did you forget to call defaultProcessor()?");
        return true;
    }
    const std::string service = name.substr(0, colon);
    std::shared_ptr<const Services> services;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        services = m_services;
    }
    auto found = services->find(service);
    if (found == services->end()) {
        refuse(*in, *out, name, seqid, TApplicationException::PROTOCOL_ERROR, "Unknown service: " + service);
        return true;
    }
    auto stored = std::make_shared<apache::thrift::protocol::StoredMessageProtocol>(
        in, name.substr(colon + 1), type, seqid);
    return found->second->process(stored, out, connectionContext);
}

}  // namespace talvern::rpc
