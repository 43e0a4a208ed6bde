#pragma once

// A blocking byte stream to a loopback port, over TLS by default, for the tests' HTTP and WebSocket
// clients. Reads time out (10 s by default) instead of hanging a test.
//
//     LoopbackStream stream(54630);                       // TLS, the peer is not verified
//     stream.write("GET / HTTP/1.1\r\n\r\n");
//     std::string bytes;
//     while (stream.readSome(bytes)) { ... }
//
//     LoopbackStream::Options strict;
//     strict.trustedCertificates = "/path/ca.pem";        // verify the chain and the name
//     strict.expectedHost = "local.okavel.talvern.com";
//     LoopbackStream verified(54631, strict);
//     verified.peerChain();                               // subjects, leaf first

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
    /// Reads up to `size` bytes into `buffer`: the count, 0 at end of stream, -1 on error or time-out.
    std::ptrdiff_t read(void* buffer, std::size_t size);
    /// Ends the connection (with a TLS close notification when the session is up).
    void close();

    /// TLS: the certificates the peer sent, leaf first, each as its subject ("CN=...,O=...").
    std::vector<std::string> peerChain() const;
    /// TLS: the peer's certificates as PEM, leaf first.
    std::vector<std::string> peerChainPem() const;

private:
    struct Tls;
    int m_fd = -1;
    std::unique_ptr<Tls> m_tls;
    std::string m_error;
};

}  // namespace talvern::test
