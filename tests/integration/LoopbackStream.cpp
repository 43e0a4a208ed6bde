#include "LoopbackStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <csignal>
#include <memory>
#include <mutex>

namespace talvern::test {

namespace {

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

LoopbackStream::LoopbackStream(std::uint16_t port) : LoopbackStream(port, Options{}) {}

LoopbackStream::LoopbackStream(std::uint16_t port, const Options& options) {
    // A write to a connection the server has closed must fail, not kill the test program.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
    m_error = open(port, options);
    if (!m_error.empty()) {
        close();
    }
}

std::string LoopbackStream::open(std::uint16_t port, const Options& options) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto ms = options.readTimeout.count();
    timeval limit{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return "connect failed";
    }
    if (!options.tls) {
        return "";
    }
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!ctx) {
        return cryptoErrors();
    }
    // A server that drops the connection without a close notification has ended the stream as well.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    const std::string& anchors = options.trustedCertificates;
    if (!anchors.empty()) {
        if (SSL_CTX_load_verify_locations(ctx.get(), anchors.c_str(), nullptr) != 1) {
            return "cannot load " + anchors + ": " + cryptoErrors();
        }
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    }
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    SSL_set_fd(ssl.get(), m_fd);
    const std::string& host = options.expectedHost;
    if (!anchors.empty() && isIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.c_str());
    } else if (!anchors.empty() && !host.empty()) {
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        SSL_set1_host(ssl.get(), host.c_str());
    }
    if (SSL_connect(ssl.get()) != 1) {
        const long verify = SSL_get_verify_result(ssl.get());
        return "TLS handshake failed: " + cryptoErrors() +
               (verify == X509_V_OK ? "" : std::string(" (") + X509_verify_cert_error_string(verify) + ")");
    }
    m_ssl = ssl.release();
    return "";
}

LoopbackStream::~LoopbackStream() { close(); }

bool LoopbackStream::connected() const { return m_fd >= 0; }

bool LoopbackStream::write(std::string_view bytes) {
    while (connected() && !bytes.empty()) {
        const long n = m_ssl != nullptr ? SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size()))
                                        : ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            ERR_clear_error();
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return connected();
}

bool LoopbackStream::readSome(std::string& appendTo) {
    char chunk[4096];
    long n = -1;
    if (m_ssl != nullptr) {
        n = SSL_read(m_ssl, chunk, sizeof(chunk));
        ERR_clear_error();
    } else if (connected()) {
        n = ::recv(m_fd, chunk, sizeof(chunk), 0);
    }
    if (n > 0) {
        appendTo.append(chunk, static_cast<std::size_t>(n));
    }
    return n > 0;
}

void LoopbackStream::close() {
    if (m_ssl != nullptr) {
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    ERR_clear_error();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::vector<std::string> LoopbackStream::peerChain() const {
    std::vector<std::string> subjects;
    STACK_OF(X509)* chain = m_ssl != nullptr ? SSL_get_peer_cert_chain(m_ssl) : nullptr;
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

}  // namespace talvern::test
