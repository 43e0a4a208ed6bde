#pragma once

// A blocking byte stream to a loopback port, over TLS by default (the peer verified only when the
// options name trusted certificates), for the tests' HTTP and WebSocket clients. Reads time out (10 s by
// default) instead of hanging a test.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ssl_st;

namespace talvern::test {

class LoopbackStream {
public:
    struct Options {
        bool tls = true;
        /// PEM file of trust anchors; when set the peer's chain must verify against it.
        std::string trustedCertificates;
        /// With trustedCertificates: the DNS name or IP address the certificate must name (also sent as
        /// the server name when it is a DNS name).
        std::string expectedHost;
        std::chrono::milliseconds readTimeout{10000};
    };

    explicit LoopbackStream(std::uint16_t port);
    LoopbackStream(std::uint16_t port, const Options& options);
    ~LoopbackStream();
    LoopbackStream(const LoopbackStream&) = delete;
    LoopbackStream& operator=(const LoopbackStream&) = delete;

    /// True once connected (and, with TLS, the handshake and any verification succeeded).
    bool connected() const;
    /// Why the connection or handshake failed (empty when connected).
    const std::string& error() const { return m_error; }

    /// Writes every byte; false when the connection is gone.
    bool write(std::string_view bytes);
    /// Reads what is available (at least one byte) and appends it; false on end of stream, error or
    /// time-out.
    bool readSome(std::string& appendTo);

    /// TLS: the certificates the peer sent, leaf first, each as its subject ("CN=...,O=...").
    std::vector<std::string> peerChain() const;

private:
    /// Connects (and shakes hands); why that failed, empty on success.
    std::string open(std::uint16_t port, const Options& options);
    /// Ends the connection (with a TLS close notification when the session is up).
    void close();

    int m_fd = -1;
    ssl_st* m_ssl = nullptr;  ///< the TLS session once its handshake succeeded
    std::string m_error;
};

}  // namespace talvern::test
