#include "eventbus/SdpRpcClient.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TMultiplexedProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include <atomic>

#include "log/Log.h"
#include "platform/Paths.h"
#include "rpcgen/SdpBroadcast.h"

namespace talvern {
namespace {

const char* const kTag = "Tag null";
constexpr int kConnectTimeoutMs = 500;

// The transport that last connected, shared by every connection of the process.
std::atomic<Transport> g_lastWorking{Transport::tcp};

const char* nameOf(Transport transport) { return transport == Transport::pipe ? "Pipe" : "TCP"; }

}  // namespace

template <class Client>
struct SdpRpcClientImpl<Client>::Impl {
    std::string serviceName;
    Preference preference;
    std::shared_ptr<apache::thrift::transport::TTransport> transport;
    std::unique_ptr<Client> client;

    bool open(std::shared_ptr<apache::thrift::transport::TSocket> socket) {
        socket->setConnTimeout(kConnectTimeoutMs);
        auto buffered = std::make_shared<apache::thrift::transport::TBufferedTransport>(socket);
        auto protocol = std::make_shared<apache::thrift::protocol::TBinaryProtocol>(buffered);
        auto multiplexed =
            std::make_shared<apache::thrift::protocol::TMultiplexedProtocol>(protocol, serviceName);
        try {
            buffered->open();
        } catch (const std::exception& e) {
            OKV_LOG_TAG_DEBUG(kTag, "connect failed; Reason: {}", e.what());
            return false;
        }
        transport = buffered;
        client = std::make_unique<Client>(multiplexed);
        return true;
    }
};

template <class Client>
SdpRpcClientImpl<Client>::SdpRpcClientImpl(std::string serviceName, Preference preference)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->serviceName = std::move(serviceName);
    m_impl->preference = std::move(preference);
}

template <class Client>
SdpRpcClientImpl<Client>::~SdpRpcClientImpl() {
    close();
}

template <class Client>
Transport SdpRpcClientImpl<Client>::lastWorkingTransport() {
    return g_lastWorking.load();
}

template <class Client>
bool SdpRpcClientImpl<Client>::startViaPipeTransport(const std::string& pipeName) {
    if (pipeName.empty()) {
        return false;
    }
    std::string path = platform::runtimeDir() + "/" + pipeName + ".sock";
    if (!m_impl->open(std::make_shared<apache::thrift::transport::TSocket>(path))) {
        return false;
    }
    OKV_LOG_TAG_INFO(kTag, "RPC-Pipe interface detection finish");
    return true;
}

template <class Client>
bool SdpRpcClientImpl<Client>::startViaTcpTransport(const std::string& host, std::uint16_t port) {
    if (!m_impl->open(std::make_shared<apache::thrift::transport::TSocket>(host, port))) {
        return false;
    }
    OKV_LOG_TAG_INFO(kTag, "RPC-TCP interface detection finish");
    return true;
}

template <class Client>
bool SdpRpcClientImpl<Client>::start(const std::string& host, std::uint16_t port,
                                     const std::string& pipeName) {
    close();
    Transport preferred = m_impl->preference ? m_impl->preference() : Transport::all;
    Transport first = preferred == Transport::all ? g_lastWorking.load() : preferred;
    Transport second = first == Transport::pipe ? Transport::tcp : Transport::pipe;
    for (Transport transport : {first, second}) {
        OKV_LOG_TAG_INFO(kTag, "Ready to connect to the target address ({}:{} or {}) by {} communication.",
                         host, port, pipeName, nameOf(transport));
        bool connected =
            transport == Transport::pipe ? startViaPipeTransport(pipeName) : startViaTcpTransport(host, port);
        if (connected) {
            OKV_LOG_TAG_INFO(kTag, "Connect to the target address ({}:{} or {}) success by {} communication.",
                             host, port, pipeName, nameOf(transport));
            g_lastWorking = transport;
            return true;
        }
    }
    return false;
}

template <class Client>
Client* SdpRpcClientImpl<Client>::client() {
    return m_impl->client.get();
}

template <class Client>
void SdpRpcClientImpl<Client>::close() {
    if (m_impl->transport) {
        try {
            m_impl->transport->close();
        } catch (...) {
            // the connection is going away anyway
        }
    }
    m_impl->client.reset();
    m_impl->transport.reset();
}

template class SdpRpcClientImpl<rpc::thrift::SdpBroadcastClient>;

}  // namespace talvern
