#include "signcheck/SignErrors.h"

#include <string>

namespace talvern::signCheck {
namespace {

class SignCheckCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "signcheck"; }

    std::string message(int value) const override {
        switch (static_cast<sign_errc>(value)) {
            case sign_errc::not_signed:
                return "the file carries no appended signature";
            case sign_errc::trailer_malformed:
                return "the signature trailer is malformed (its length does not fit the file)";
            case sign_errc::signature_too_large:
                return "the signature block is implausibly large";
            case sign_errc::signature_malformed:
                return "the signature block is not a DER CMS SignedData";
            case sign_errc::signature_not_detached:
                return "the signature does not cover the file (it embeds its own content)";
            case sign_errc::no_signer:
                return "the signature names no signer";
            case sign_errc::signer_certificate_missing:
                return "the first signer's certificate is not carried in the signature";
            case sign_errc::not_regular_file:
                return "not a regular file";
            case sign_errc::content_mismatch:
                return "the signature does not match the file's content";
            case sign_errc::untrusted_signer:
                return "the signer does not chain to a trusted certificate authority";
            case sign_errc::no_code_signing_usage:
                return "the signer certificate lacks the code-signing usage";
            case sign_errc::signer_expired:
                return "the signer certificate has expired and the signing time does not lie in its validity";
            case sign_errc::no_trust_anchors:
                return "no trust anchors are available";
            case sign_errc::bad_key:
                return "the certificate or key cannot be read";
            case sign_errc::signing_failed:
                return "the signature could not be produced";
        }
        return "unknown signature error " + std::to_string(value);
    }
};

}  // namespace

const std::error_category& signcheck_category() noexcept {
    static const SignCheckCategory category;
    return category;
}

}  // namespace talvern::signCheck
