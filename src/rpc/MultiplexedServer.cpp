#include "rpc/MultiplexedServer.h"

#include "rpc/ServiceMultiplexer.h"
#include "rpc/ThriftLog.h"
#include "rpc/ThriftServerRunner.h"

namespace talvern::rpc {

MultiplexedServer::MultiplexedServer(std::string transport)
    : m_processor(std::make_shared<ServiceMultiplexer>()),
      m_runner(std::make_unique<ThriftServerRunner>()),
      m_transport(std::move(transport)) {
    installThriftLog();
}

MultiplexedServer::~MultiplexedServer() = default;

std::shared_ptr<apache::thrift::TProcessor> MultiplexedServer::wrapProcessor(
    std::shared_ptr<apache::thrift::TProcessor> processor) {
    if (m_guard) {
        return m_guard(std::move(processor));
    }
    return guardWithPeerCheck(std::move(processor), m_peerCheck, m_transport);
}

void MultiplexedServer::registerProcessor(const std::string& serviceName,
                                          std::shared_ptr<apache::thrift::TProcessor> processor) {
    m_processor->registerProcessor(serviceName, wrapProcessor(std::move(processor)));
}

bool MultiplexedServer::running() const { return m_runner->running(); }

}  // namespace talvern::rpc
