#pragma once

#include <system_error>

namespace talvern::signCheck {

/// Why a file signature was refused (values of signcheck_category).
enum class sign_errc {
    not_signed = 1,              ///< no signature trailer at the end of the file
    trailer_malformed,           ///< the trailer's length does not fit the file
    signature_too_large,         ///< the signature block exceeds the size any real signature has
    signature_malformed,         ///< the signature block is not a DER CMS SignedData
    signature_not_detached,      ///< the signature embeds content instead of covering the file
    no_signer,                   ///< the signature names no signer
    signer_certificate_missing,  ///< the first signer's certificate is not carried in the signature
    not_regular_file,            ///< the path names a directory, device or pipe
    content_mismatch,            ///< the signature does not verify over the file's content
    untrusted_signer,            ///< the signer does not chain to a trust anchor
    no_code_signing_usage,       ///< the signer lacks the code-signing extended key usage
    signer_expired,              ///< the signer expired and no signing time inside its validity rescues it
    no_trust_anchors,            ///< neither the compiled-in bundle nor $OKAVEL_TRUST_ANCHORS gave a CA
    bad_key,                     ///< a key or certificate given for signing cannot be read
    signing_failed,              ///< the crypto library could not produce a signature
};

const std::error_category& signcheck_category() noexcept;

inline std::error_code make_error_code(sign_errc e) noexcept {
    return {static_cast<int>(e), signcheck_category()};
}

}  // namespace talvern::signCheck

template <>
struct std::is_error_code_enum<talvern::signCheck::sign_errc> : std::true_type {};
