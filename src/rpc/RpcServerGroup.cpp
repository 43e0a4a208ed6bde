#include "rpc/RpcServerGroup.h"

#include "rpc/AuthProcessors.h"

#include <future>
#include <random>

#include "log/Log.h"
#include "platform/ThreadSignalStack.h"
#include "rpc/RpcServer.h"
#include "rpc/RpcServerViaPipe.h"
#include "support/PortFileStore.h"

namespace talvern::rpc {

namespace {
constexpr uint16_t kCandidateCount = 8;
constexpr uint16_t kCandidateStep = 11;
constexpr const char* kLoopback = "127.0.0.1";
}  // namespace

RpcServerGroup::RpcServerGroup(std::shared_ptr<utilities::PortFileStore> portFiles)
    : m_pipeServer(std::make_shared<RpcServerViaPipe>()),
      m_tcpServer(RpcServer::create()),
      m_portFiles(portFiles ? std::move(portFiles) : utilities::PortFileStore::instance()) {}

RpcServerGroup::~RpcServerGroup() { stop(); }

void RpcServerGroup::registerProcessor(const std::string& serviceName,
                                       std::shared_ptr<apache::thrift::TProcessor> processor) {
    m_pipeServer->registerProcessor(serviceName, processor);
    m_tcpServer->registerProcessor(serviceName, processor);
}

void RpcServerGroup::requirePeerAuthentication() {
    m_tcpServer->setProcessorGuard([](std::shared_ptr<apache::thrift::TProcessor> processor) {
        return std::make_shared<AuthTcpProcessor>(std::move(processor));
    });
    m_pipeServer->setProcessorGuard([](std::shared_ptr<apache::thrift::TProcessor> processor) {
        return std::make_shared<AuthPipeProcessor>(std::move(processor));
    });
}

void RpcServerGroup::setPeerChecks(PeerCheck tcp, PeerCheck pipe) {
    m_tcpServer->setPeerCheck(std::move(tcp));
    m_pipeServer->setPeerCheck(std::move(pipe));
}

bool RpcServerGroup::start(const std::string& portFileName, uint16_t startingPort,
                           const std::string& pipeName) {
    std::packaged_task<bool()> pipeTask([this, pipeName] { return startPipeServer(pipeName); });
    std::future<bool> pipeResult = pipeTask.get_future();
    std::thread pipeThread = platform::makeThread(std::move(pipeTask));
    bool tcpStarted = false;
    try {
        tcpStarted = startTcpServer(portFileName, startingPort);
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("RPC(TCP) Service start failure; Reason: {}", e.what());
    }
    pipeThread.join();
    bool pipeStarted = false;
    try {
        pipeStarted = pipeResult.get();
    } catch (const std::exception& e) {
        OKV_LOG_ERROR("RPC(Pipe) Service start failure; Reason: {}", e.what());
    }
    return tcpStarted && pipeStarted;
}

std::vector<uint16_t> RpcServerGroup::candidatePorts(uint16_t startingPort) {
    std::vector<uint16_t> ports;
    for (uint16_t k = 0; k < kCandidateCount; ++k) {
        ports.push_back(static_cast<uint16_t>(startingPort + kCandidateStep * k));
    }
    return ports;
}

bool RpcServerGroup::startTcpServer(const std::string& portFileName, uint16_t startingPort) {
    std::vector<uint16_t> candidates = candidatePorts(startingPort);
    uint16_t filePort = 0;
    bool havePortFile = false;
    if (!portFileName.empty() && m_portFiles->read(portFileName, filePort)) {
        havePortFile = true;
        candidates.insert(candidates.begin(), filePort);
    }
    uint16_t port = 0;
    auto attempt = [this](uint16_t candidate) { return m_tcpServer->start(kLoopback, candidate); };
    if (!tcpSearchAvailablePort(candidates, attempt, &port)) {
        return false;
    }
    // A server that was already running keeps the port it has.
    port = m_tcpServer->port();
    OKV_LOG_INFO("RPC(TCP) Service start success, the listening port is {}", port);
    if (!portFileName.empty() && !(havePortFile && filePort == port)) {
        std::error_code ec;
        if (!m_portFiles->write(portFileName, port, ec)) {
            OKV_LOG_ERROR("fail to write temporary file for 'thrift',path:{}; Reason: {}",
                          m_portFiles->path(portFileName), "maybe permission deny");
        }
    }
    return true;
}

bool RpcServerGroup::tcpSearchAvailablePort(const std::vector<uint16_t>& candidates,
                                            const std::function<bool(uint16_t)>& attempt, uint16_t* chosen) {
    auto tryPort = [&](uint16_t port) {
        if (!attempt(port)) {
            return false;
        }
        if (chosen) {
            *chosen = port;
        }
        return true;
    };
    for (uint16_t port : candidates) {
        if (tryPort(port)) {
            return true;
        }
    }
    OKV_LOG_INFO("all default ports are occupied, will try to using random port");
    std::mt19937 generator(std::random_device{}());
    std::uniform_int_distribution<uint32_t> offset(0, 65535 - kRandomPortFirst);
    for (int i = 0; i < kRandomPortAttempts; ++i) {
        if (tryPort(static_cast<uint16_t>(kRandomPortFirst + offset(generator)))) {
            return true;
        }
    }
    return false;
}

bool RpcServerGroup::startPipeServer(const std::string& pipeName) {
    const bool started = m_pipeServer->start(pipeName);
    OKV_LOG_INFO("RPC(Pipe) Service start {}, the pipe name is {}", started ? "success" : "failure",
                 pipeName);
    return started;
}

void RpcServerGroup::stop() {
    m_pipeServer->stop();
    m_tcpServer->stop();
}

uint16_t RpcServerGroup::tcpPort() const { return m_tcpServer->port(); }

std::string RpcServerGroup::pipeSocketPath() const { return m_pipeServer->socketPath(); }

}  // namespace talvern::rpc
