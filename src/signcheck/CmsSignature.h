#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "signcheck/Certificate.h"
#include "signcheck/SignatureTrailer.h"

namespace talvern::signCheck {

/// Trust results, numbered as the system's trust provider numbers them so that log lines read alike.
inline constexpr std::uint32_t kTrustSuccess = 0;
/// The signer has expired but signed inside its validity (TRUST_E_TIME_STAMP): accepted.
inline constexpr std::uint32_t kTrustTimeStampAccepted = 0x80096005;

/// The verdict on a file's signature.
struct TrustResult {
    bool trusted = false;
    std::uint32_t trustCode = kTrustSuccess;  ///< meaningful when trusted
    std::error_code error;                    ///< why it was refused
    std::string detail;                       ///< the crypto library's own words, when it gave some
};

/// One detached CMS SignedData read from a file's trailer.
class CmsSignature {
public:
    ~CmsSignature();
    CmsSignature(const CmsSignature&) = delete;
    CmsSignature& operator=(const CmsSignature&) = delete;

    /// Parses a DER block; refuses anything but a detached SignedData with at least one signer.
    static std::unique_ptr<CmsSignature> parse(const std::vector<unsigned char>& der, std::error_code& ec,
                                               std::string& detail);

    /// Reads the trailer of source and parses the signature it holds.
    static std::unique_ptr<CmsSignature> read(IByteSource& source, TrailerLocation& location,
                                              std::error_code& ec, std::string& detail);

    /// The first signer's certificate, found among the certificates the signature carries.
    CertContextPtr firstSignerCertificate(std::error_code& ec) const;

    /// Every certificate the signature carries, in its order.
    std::vector<CertContextPtr> certificates() const;

    /// True when certificate made one of the signature's signer infos.
    bool isSigner(const CertContextPtr& certificate) const;

    /// The first signer's signing-time attribute, seconds since the epoch, or -1 when absent.
    long long signingTime() const;

    /// Verifies the signature over the first contentLength bytes of source and the first signer's
    /// certificate against the trust anchors (code-signing usage required; an expired signer passes when
    /// the signing time lies inside its validity).
    TrustResult verify(IByteSource& source, std::uint64_t contentLength) const;

private:
    struct Impl;
    explicit CmsSignature(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

/// True when the certificate names code signing among its extended key usages (and, when it has a
/// key usage extension, allows digital signatures).
bool hasCodeSigningUsage(const CertContextPtr& certificate);

}  // namespace talvern::signCheck
