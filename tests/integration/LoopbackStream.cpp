#include "LoopbackStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <csignal>
#include <mutex>

namespace talvern::test {

namespace {

/// A write to a connection the server has closed must fail, not kill the test program.
void ignoreBrokenPipes() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

std::string cryptoErrors() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof(line));
        text += text.empty() ? line : std::string("; ") + line;
    }
    return text;
}

bool isIpAddress(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

struct LoopbackStream::Tls {
    ~Tls() {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
    }
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    bool up = false;
};

LoopbackStream::LoopbackStream(std::uint16_t port) : LoopbackStream(port, Options{}) {}

LoopbackStream::LoopbackStream(std::uint16_t port, const Options& options) {
    ignoreBrokenPipes();
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0) {
        m_error = "socket failed";
        return;
    }
    const auto ms = options.readTimeout.count();
    timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        m_error = "connect failed";
        close();
        return;
    }
    if (!options.tls) {
        return;
    }

    m_tls = std::make_unique<Tls>();
    m_tls->ctx = SSL_CTX_new(TLS_client_method());
    if (m_tls->ctx == nullptr) {
        m_error = cryptoErrors();
        close();
        return;
    }
    // A server that drops the connection without a close notification has ended the stream as well.
    SSL_CTX_set_options(m_tls->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (!options.trustedCertificates.empty()) {
        if (SSL_CTX_load_verify_locations(m_tls->ctx, options.trustedCertificates.c_str(), nullptr) != 1) {
            m_error = "cannot load " + options.trustedCertificates + ": " + cryptoErrors();
            close();
            return;
        }
        SSL_CTX_set_verify(m_tls->ctx, SSL_VERIFY_PEER, nullptr);
    }
    m_tls->ssl = SSL_new(m_tls->ctx);
    SSL_set_fd(m_tls->ssl, m_fd);
    if (!options.trustedCertificates.empty() && !options.expectedHost.empty()) {
        if (isIpAddress(options.expectedHost)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_tls->ssl), options.expectedHost.c_str());
        } else {
            SSL_set_tlsext_host_name(m_tls->ssl, options.expectedHost.c_str());
            SSL_set1_host(m_tls->ssl, options.expectedHost.c_str());
        }
    }
    if (SSL_connect(m_tls->ssl) != 1) {
        const long verify = SSL_get_verify_result(m_tls->ssl);
        m_error = "TLS handshake failed: " + cryptoErrors();
        if (verify != X509_V_OK) {
            m_error += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
        }
        close();
        return;
    }
    m_tls->up = true;
}

LoopbackStream::~LoopbackStream() { close(); }

bool LoopbackStream::connected() const { return m_fd >= 0 && (!m_tls || m_tls->up); }

bool LoopbackStream::write(std::string_view bytes) {
    if (!connected()) {
        return false;
    }
    while (!bytes.empty()) {
        long n = 0;
        if (m_tls) {
            n = SSL_write(m_tls->ssl, bytes.data(), static_cast<int>(bytes.size()));
        } else {
            n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        if (n <= 0) {
            ERR_clear_error();
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::ptrdiff_t LoopbackStream::read(void* buffer, std::size_t size) {
    if (!connected()) {
        return -1;
    }
    if (!m_tls) {
        const ssize_t n = ::recv(m_fd, buffer, size, 0);
        return n < 0 ? -1 : n;
    }
    const int n = SSL_read(m_tls->ssl, buffer, static_cast<int>(size));
    if (n > 0) {
        return n;
    }
    const int reason = SSL_get_error(m_tls->ssl, n);
    ERR_clear_error();
    return reason == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool LoopbackStream::readSome(std::string& appendTo) {
    char chunk[4096];
    const std::ptrdiff_t n = read(chunk, sizeof(chunk));
    if (n <= 0) {
        return false;
    }
    appendTo.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void LoopbackStream::close() {
    if (m_tls && m_tls->up) {
        SSL_shutdown(m_tls->ssl);
        m_tls->up = false;
    }
    ERR_clear_error();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::vector<std::string> LoopbackStream::peerChain() const {
    std::vector<std::string> subjects;
    STACK_OF(X509)* chain = m_tls && m_tls->ssl != nullptr ? SSL_get_peer_cert_chain(m_tls->ssl) : nullptr;
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
        BIO* bio = BIO_new(BIO_s_mem());
        X509_NAME_print_ex(bio, X509_get_subject_name(sk_X509_value(chain, i)), 0, XN_FLAG_RFC2253);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        subjects.emplace_back(data, static_cast<std::size_t>(size));
        BIO_free(bio);
    }
    return subjects;
}

std::vector<std::string> LoopbackStream::peerChainPem() const {
    std::vector<std::string> pems;
    STACK_OF(X509)* chain = m_tls && m_tls->ssl != nullptr ? SSL_get_peer_cert_chain(m_tls->ssl) : nullptr;
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(bio, sk_X509_value(chain, i));
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        pems.emplace_back(data, static_cast<std::size_t>(size));
        BIO_free(bio);
    }
    return pems;
}

}  // namespace talvern::test
