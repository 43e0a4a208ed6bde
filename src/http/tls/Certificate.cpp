#include "http/tls/Certificate.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "http/tls/PemText.h"
#include "log/Log.h"

namespace talvern {

namespace {

/// The last crypto-library error as text (empty when there is none).
std::string lastCryptoError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "no certificate in the text";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof(text));
    return text;
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

Certificate::Certificate(int kind) : m_kind(kind), m_source(makeCertificateSource(kind)) {
    if (!m_source) {
        OKV_LOG_ERROR("{}; Reason: {}", "Unknown certificate source", kind);
    }
}

bool Certificate::init(const std::string& argument) { return m_source && m_source->init(argument); }

const std::string& Certificate::text() const { return m_source ? m_source->text() : emptyText(); }

std::vector<unsigned char> Certificate::bytes() const {
    const std::string& pem = text();
    return std::vector<unsigned char>(pem.begin(), pem.end());
}

bool Certificate::isExpired(bool withMargin) const { return isExpiredAt(std::time(nullptr), withMargin); }

bool Certificate::isExpiredAt(std::time_t now, bool withMargin) const {
    if (text().empty()) {
        return true;
    }
    const std::time_t at = withMargin ? now + kExpiryMarginSeconds : now;
    TimeDiff toNotBefore;
    TimeDiff toNotAfter;
    if (!calculateTimeDiff(at, Bound::NotBefore, toNotBefore) ||
        !calculateTimeDiff(at, Bound::NotAfter, toNotAfter)) {
        return true;
    }
    // Valid since at least a day, and for at least one more.
    return toNotBefore.days >= 0 || toNotAfter.days < 1;
}

bool Certificate::calculateTimeDiff(std::time_t fromTime, Bound toTime, TimeDiff& result) const {
    const std::string& pem = text();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  BIO_free);
    if (!bio) {
        OKV_LOG_ERROR("{}; Reason: {}", "Memory allocation failure", lastCryptoError());
        return false;
    }
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, tls::noPassPhrase, nullptr), X509_free);
    if (!cert) {
        OKV_LOG_ERROR("{}; Reason: {}",
                      "Failed to create a certificate in X509 format through the certificate chain",
                      lastCryptoError());
        return false;
    }
    std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> from(ASN1_TIME_set(nullptr, fromTime),
                                                               ASN1_TIME_free);
    const ASN1_TIME* bound =
        toTime == Bound::NotBefore ? X509_get0_notBefore(cert.get()) : X509_get0_notAfter(cert.get());
    int days = 0;
    int seconds = 0;
    if (!from || ASN1_TIME_diff(&days, &seconds, from.get(), bound) != 1) {
        OKV_LOG_ERROR("{}; Reason: {}", "Failed to compare the certificate's dates", lastCryptoError());
        return false;
    }
    result.days = days;
    result.seconds = seconds;
    return true;
}

}  // namespace talvern
