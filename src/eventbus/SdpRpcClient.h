#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "debugoptions/DebugRecords.h"

namespace talvern {

/// A connection to one multiplexed service of a remote bus, over the local socket or loopback TCP.
template <class Client>
class SdpRpcClient {
public:
    virtual ~SdpRpcClient() = default;
    /// Connects (dropping any earlier connection); false when neither transport could be opened.
    virtual bool start(const std::string& host, std::uint16_t port, const std::string& pipeName) = 0;
    /// The generated client of the open connection, or null.
    virtual Client* client() = 0;
    virtual void close() = 0;
};

/// Tries the transports in the order the debug options ask for ("tcp" or "pipe" first; "all": the one that
/// last worked in this process first, TCP before any success), with short connect time-outs.
template <class Client>
class SdpRpcClientImpl : public SdpRpcClient<Client> {
public:
    using Preference = std::function<Transport()>;

    SdpRpcClientImpl(std::string serviceName, Preference preference);
    ~SdpRpcClientImpl() override;

    bool start(const std::string& host, std::uint16_t port, const std::string& pipeName) override;
    Client* client() override;
    void close() override;

    bool startViaPipeTransport(const std::string& pipeName);
    bool startViaTcpTransport(const std::string& host, std::uint16_t port);

    /// The transport of the last successful connection in this process (TCP before any).
    static Transport lastWorkingTransport();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace talvern
