#pragma once

// Private to the signature checker: owning handles for OpenSSL objects and error text.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "signcheck/Certificate.h"

namespace talvern::signCheck {

template <typename T, void (*Free)(T*)>
struct OsslDeleter {
    void operator()(T* p) const noexcept { Free(p); }
};

using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509, X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslDeleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

inline void freeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OsslDeleter<STACK_OF(X509), freeX509Stack>>;

/// The crypto library's queued errors as one line (and the queue emptied); empty when none.
std::string takeOpenSslErrors();

/// The time as seconds since the epoch, or nothing when it cannot be read.
std::optional<std::time_t> asn1TimeToTime(const ASN1_TIME* time);

}  // namespace talvern::signCheck

/// The certificate behind a CertContextPtr: one reference to an X509.
class talvern::signCheck::Certificate {
public:
    /// Takes a new reference to x509.
    explicit Certificate(X509* x509) : m_x509(x509) { X509_up_ref(x509); }
    ~Certificate() { X509_free(m_x509); }
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    X509* x509() const { return m_x509; }

private:
    X509* m_x509;
};
