#include "signcheck/Certificate.h"

#include <openssl/bn.h>

#include "signcheck/CmsSignature.h"
#include "signcheck/OpenSsl.h"

namespace talvern::signCheck {
namespace {

std::string nameLine(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        return {};
    }
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio.get(), &memory);
    return std::string(memory->data, memory->length);
}

}  // namespace

bool describeCertificate(const CertContextPtr& certificate, CertificateInfo& info) {
    if (!certificate) {
        return false;
    }
    X509* x = certificate->x509();
    info.subject = nameLine(X509_get_subject_name(x));
    info.issuer = nameLine(X509_get_issuer_name(x));
    info.serialHex.clear();
    if (BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(x), nullptr)) {
        if (char* hex = BN_bn2hex(serial)) {
            info.serialHex = hex;
            OPENSSL_free(hex);
        }
        BN_free(serial);
    }
    info.notBefore = asn1TimeToTime(X509_get0_notBefore(x)).value_or(0);
    info.notAfter = asn1TimeToTime(X509_get0_notAfter(x)).value_or(0);
    info.codeSigningUsage = hasCodeSigningUsage(certificate);
    return true;
}

}  // namespace talvern::signCheck
