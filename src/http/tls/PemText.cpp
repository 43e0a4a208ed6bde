#include "http/tls/PemText.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace talvern::tls {

namespace {

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

std::unique_ptr<BIO, BioDeleter> textBio(const std::string& text) {
    return std::unique_ptr<BIO, BioDeleter>(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

}  // namespace

int noPassPhrase(char*, int, int, void*) { return 0; }

bool looksLikePem(const std::string& text) { return text.rfind("-----BEGIN ", 0) == 0; }

bool holdsCertificateAndKey(const std::string& text) {
    auto certBio = textBio(text);
    auto keyBio = textBio(text);
    if (!certBio || !keyBio) {
        return false;
    }
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, noPassPhrase, nullptr), X509_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassPhrase, nullptr), EVP_PKEY_free);
    const bool matches = cert && key && X509_check_private_key(cert.get(), key.get()) == 1;
    ERR_clear_error();
    return matches;
}

}  // namespace talvern::tls
