#pragma once

// Checks the maker's code signature on a file.
//
// A signed file is its original bytes, then a detached DER CMS SignedData (SHA-256) over those bytes,
// then the signature's length as a 4-byte big-endian integer, then the text "~Talvern signature
// appended~\n". A file is the maker's when the first signer's simple display name (CN, else O) begins
// with "Talvern Technologies" (case-sensitive), the signature verifies over the preceding bytes, and
// the signer chains to a trust anchor with the code-signing extended key usage. Trust anchors are the
// bundle compiled in at build time plus the PEM file named by $OKAVEL_TRUST_ANCHORS.
//
// Every routine is free of shared state and safe to call from many threads at once; nothing throws.

#include <string>
#include <system_error>

#include "signcheck/Certificate.h"

namespace talvern::signCheck::windows {

/// Name flags of getCertName.
inline constexpr unsigned kCertNameSimpleDisplay = 0x0;  ///< subject: CN, else O
inline constexpr unsigned kCertNameIssuerFlag = 0x1;     ///< the issuer's name instead of the subject's

/// The maker's subject prefix.
inline constexpr const char* kTalvernSubjectPrefix = "Talvern Technologies";

/// True when the file at the UTF-8 path carries the maker's trusted signature.
bool hasTalvernSignWithUTF8(const std::string& pUtf8Path);

/// True when the file at the path in the system's narrow encoding carries the maker's trusted signature.
bool hasTalvernSignA(const std::string& path);

/// True when the file carries the maker's trusted signature; falls back to hasTalvernSignWV2 when the
/// signer cannot be read.
bool hasTalvernSignW(const std::wstring& path);

/// The second route: any code-signing certificate of the maker carried in the signature, then the
/// file's trust check.
bool hasTalvernSignWV2(const std::wstring& path);

/// The certificate of the signature's first signer; null with the reason in ec on failure.
CertContextPtr getFileSign(const std::wstring& path, std::error_code& ec);

/// The first certificate carried in the file's signature that has the code-signing usage and the maker's
/// name; null when there is none.
CertContextPtr GetTalvernSignedCertificateByPEFile(const std::wstring& path);

/// True when the certificate's simple display name begins with "Talvern Technologies".
bool isTalvernSign(const CertContextPtr& pCertContext);

/// The certificate's name chosen by flags (kCertNameSimpleDisplay, kCertNameIssuerFlag) as a
/// NUL-terminated UTF-8 string, or null when the certificate has no such name.
std::unique_ptr<char[]> getCertName(const CertContextPtr& pCertContext, unsigned flags);

/// True when the file's signature verifies over its content and its first signer chains to a trust
/// anchor with the code-signing usage. An expired signer is accepted when the signature's signing time
/// lies inside the signer's validity.
bool checkFileTrust(const std::wstring& path);

}  // namespace talvern::signCheck::windows
