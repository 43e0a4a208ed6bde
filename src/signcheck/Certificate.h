#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace talvern::signCheck {

/// One X.509 certificate taken from a file signature. Opaque: the crypto library stays inside
/// the signature checker.
class Certificate;

/// The certificate context handed between the signature routines; null means "none".
using CertContextPtr = std::shared_ptr<const Certificate>;

/// What a user needs to see of a certificate ("okavel-sign show").
struct CertificateInfo {
    std::string subject;  ///< one-line distinguished name, RFC 2253 order
    std::string issuer;
    std::string serialHex;
    std::time_t notBefore = 0;
    std::time_t notAfter = 0;
    bool codeSigningUsage = false;  ///< extended key usage names code signing (1.3.6.1.5.5.7.3.3)
};

/// Reads the printable facts of a certificate; false when the certificate is null.
bool describeCertificate(const CertContextPtr& certificate, CertificateInfo& info);

}  // namespace talvern::signCheck
