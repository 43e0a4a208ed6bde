#include "http/engine/TlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "http/tls/DhParameters.h"
#include "http/tls/PemText.h"
#include "log/Log.h"
#include "support/ReadFile.h"

namespace talvern::engine {

namespace asio = boost::asio;

namespace {

constexpr const char* kTag = "HttpServer";
constexpr const char* kDhBegin = "-----BEGIN DH PARAMETERS-----";
constexpr const char* kDhEnd = "-----END DH PARAMETERS-----";

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;

BioPtr memoryBio(const void* data, std::size_t size) {
    return BioPtr(BIO_new_mem_buf(data, static_cast<int>(size)));
}

/// The first "DH PARAMETERS" block of a PEM text; empty when there is none.
std::string dhBlockOf(const std::string& text) {
    const auto begin = text.find(kDhBegin);
    if (begin == std::string::npos) {
        return {};
    }
    const auto end = text.find(kDhEnd, begin);
    if (end == std::string::npos) {
        return {};
    }
    return text.substr(begin, end + std::string(kDhEnd).size() - begin) + "\n";
}

/// Makes `pem` (a DH PARAMETERS block) the context's DH group; false when it is not one.
bool useDhParameters(SSL_CTX* ctx, const std::string& pem) {
    BioPtr bio = memoryBio(pem.data(), pem.size());
    KeyPtr params(bio ? PEM_read_bio_Parameters(bio.get(), nullptr) : nullptr);
    if (!params || EVP_PKEY_is_a(params.get(), "DH") != 1 ||
        SSL_CTX_set0_tmp_dh_pkey(ctx, params.get()) != 1) {
        ERR_clear_error();
        return false;
    }
    params.release();  // the context owns it now
    return true;
}

bool installPem(SSL_CTX* ctx, const std::vector<unsigned char>& pem, bool chainForm) {
    BioPtr bio = memoryBio(pem.data(), pem.size());
    if (!bio) {
        return false;
    }
    // The certificate first, then its key from the same text.
    X509Ptr leaf(PEM_read_bio_X509(bio.get(), nullptr, tls::noPassPhrase, nullptr));
    if (!leaf) {
        return false;
    }
    BioPtr keyBio = memoryBio(pem.data(), pem.size());
    KeyPtr key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, tls::noPassPhrase, nullptr) : nullptr);
    if (!key || SSL_CTX_use_certificate(ctx, leaf.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        return false;
    }
    if (chainForm) {
        SSL_CTX_clear_extra_chain_certs(ctx);
        // `bio` stands after the leaf: every following certificate belongs to the chain.
        while (true) {
            X509Ptr next(PEM_read_bio_X509(bio.get(), nullptr, tls::noPassPhrase, nullptr));
            if (!next) {
                break;
            }
            if (SSL_CTX_add_extra_chain_cert(ctx, next.get()) != 1) {
                return false;
            }
            next.release();  // the context owns it now
        }
        // Running out of certificates is the normal end of the text.
        const unsigned long err = ERR_peek_last_error();
        if (err != 0 && !(ERR_GET_LIB(err) == ERR_LIB_PEM && ERR_GET_REASON(err) == PEM_R_NO_START_LINE)) {
            return false;
        }
    }
    return true;
}

}  // namespace

constexpr long kSessionCacheSize = 256;

std::shared_ptr<asio::ssl::context> newServerContext() {
    auto ctx = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    ctx->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::single_dh_use);
    SSL_CTX* native = ctx->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    // Idle connections give their record buffers back (they are taken again for the next record).
    SSL_CTX_set_mode(native, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    // Loopback clients seldom resume; a crowd of them must not leave thousands of sessions in the cache.
    SSL_CTX_sess_set_cache_size(native, kSessionCacheSize);
    if (!useDhParameters(native, tls::builtinDhParameters())) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "the built-in DH group was refused",
                         "DH is chosen automatically");
        SSL_CTX_set_dh_auto(native, 1);
    }
    return ctx;
}

bool loadTlsFromMemory(asio::ssl::context& context, const std::vector<unsigned char>& pem, bool chainForm) {
    ERR_clear_error();
    const bool loaded = installPem(context.native_handle(), pem, chainForm);
    ERR_clear_error();
    return loaded;
}

bool loadTlsFromFiles(asio::ssl::context& context, const std::string& certPath, const std::string& keyPath,
                      std::string& error) {
    SSL_CTX* ctx = context.native_handle();
    const std::string& key = keyPath.empty() ? certPath : keyPath;
    ERR_clear_error();
    SSL_CTX_set_default_passwd_cb(ctx, tls::noPassPhrase);
    if (SSL_CTX_use_certificate_file(ctx, certPath.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = "Invalid SSL cert";
    } else if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = "Invalid SSL key";
    } else if (SSL_CTX_use_certificate_chain_file(ctx, certPath.c_str()) != 1) {
        error = "Invalid CA bundle";
    }
    if (!error.empty()) {
        ERR_clear_error();
        return false;
    }
    // The certificate file may bring a DH group of its own; the built-in one stays otherwise.
    std::string text;
    std::error_code ec;
    if (utilities::readWholeFile(certPath, text, ec)) {
        if (const std::string block = dhBlockOf(text); !block.empty() && !useDhParameters(ctx, block)) {
            OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "the DH parameters of the certificate file were refused",
                             "the built-in DH group is used");
        }
    }
    ERR_clear_error();
    return true;
}

}  // namespace talvern::engine
