#include "rpc/RpcServer.h"

#include <thrift/transport/TServerSocket.h>

#include "log/Log.h"
#include "rpc/NetworkPortDetector.h"
#include "rpc/ServiceMultiplexer.h"
#include "rpc/ThriftServerRunner.h"

namespace talvern::rpc {

namespace {
constexpr int kSendTimeoutMs = 30000;
}

std::shared_ptr<RpcServer> RpcServer::create() { return std::shared_ptr<RpcServer>(new RpcServer()); }

RpcServer::RpcServer() : MultiplexedServer("TCP") {}

RpcServer::~RpcServer() { stop(); }

bool RpcServer::start(const std::string& host, uint16_t port) {
    if (m_runner->running()) {
        return true;
    }
    OKV_LOG_INFO("ready to start tcp-rpc server for {}:{}", host, port);
    auto detector = std::make_shared<utilities::NetworkPortDetector>();
    std::error_code ec;
    if (!detector->open(host, port, ec)) {
        OKV_LOG_INFO("start tcp-rpc server for {}:{} finish, the result is {}.", host, port, "failed");
        return false;
    }
    auto socket = std::make_shared<apache::thrift::transport::TServerSocket>(host, port);
    socket->setKeepAlive(true);
    socket->setSendTimeout(kSendTimeoutMs);
    // The detector holds the port until the server thread is about to listen on it.
    const bool started = m_runner->start(
        socket, m_processor, kMaxConcurrentClients, [detector] { detector->close(); }, nullptr);
    detector->close();
    m_flag = started;
    m_port = started ? port : 0;
    OKV_LOG_INFO("start tcp-rpc server for {}:{} finish, the result is {}.", host, port,
                 started ? "success" : "failed");
    return started;
}

void RpcServer::stop() {
    m_runner->stop();
    m_flag = false;
    m_port = 0;
}

}  // namespace talvern::rpc
