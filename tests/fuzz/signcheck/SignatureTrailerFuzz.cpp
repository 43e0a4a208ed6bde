// Feeds arbitrary bytes to the signature reader as if they were a whole file: trailer parsing, the CMS
// parser, signer lookup, names and the full verification must refuse garbage without crashing.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "signcheck/CmsSignature.h"
#include "signcheck/SignCheck.h"
#include "signcheck/SignatureTrailer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace sc = talvern::signCheck;
    sc::MemoryByteSource source(std::string_view(reinterpret_cast<const char*>(data), size));
    sc::TrailerLocation location;
    std::error_code ec;
    std::string detail;
    auto signature = sc::CmsSignature::read(source, location, ec, detail);
    if (!signature) {
        return 0;
    }
    for (const auto& certificate : signature->certificates()) {
        sc::CertificateInfo info;
        sc::describeCertificate(certificate, info);
        sc::windows::getCertName(certificate, sc::windows::kCertNameSimpleDisplay);
        sc::windows::getCertName(certificate, sc::windows::kCertNameIssuerFlag);
        sc::hasCodeSigningUsage(certificate);
    }
    if (auto signer = signature->firstSignerCertificate(ec)) {
        sc::windows::isTalvernSign(signer);
    }
    signature->signingTime();
    signature->verify(source, location.contentLength);
    return 0;
}
