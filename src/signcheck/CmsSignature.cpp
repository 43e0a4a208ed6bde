#include "signcheck/CmsSignature.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include "signcheck/ByteSourceBio.h"
#include "signcheck/OpenSsl.h"
#include "signcheck/SignErrors.h"
#include "signcheck/TrustAnchors.h"

namespace talvern::signCheck {

struct CmsSignature::Impl {
    CmsPtr cms;
};

CmsSignature::CmsSignature(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CmsSignature::~CmsSignature() = default;

namespace {

CMS_SignerInfo* firstSigner(CMS_ContentInfo* cms) {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
    return signers != nullptr && sk_CMS_SignerInfo_num(signers) > 0 ? sk_CMS_SignerInfo_value(signers, 0)
                                                                    : nullptr;
}

bool strongDigest(CMS_SignerInfo* signer) {
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, nullptr);
    if (digest == nullptr) {
        return false;
    }
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
    int nid = OBJ_obj2nid(oid);
    return nid == NID_sha256 || nid == NID_sha384 || nid == NID_sha512;
}

// X509_V_OK or the verification error of the chain from leaf to a trust anchor, at `at` when given.
int verifyChain(X509_STORE* store, X509* leaf, STACK_OF(X509) * untrusted, const std::time_t* at) {
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store, leaf, untrusted) != 1) {
        return X509_V_ERR_OUT_OF_MEM;
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    // An anchor may be an intermediate CA that a deployment chose to trust.
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
    if (at != nullptr) {
        X509_VERIFY_PARAM_set_time(param, *at);
    }
    int ok = X509_verify_cert(ctx.get());
    int error = X509_STORE_CTX_get_error(ctx.get());
    takeOpenSslErrors();
    if (ok == 1) {
        return X509_V_OK;
    }
    return error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error;
}

TrustResult refuse(sign_errc code, std::string detail = {}) {
    TrustResult result;
    result.error = code;
    result.detail = std::move(detail);
    return result;
}

}  // namespace

std::unique_ptr<CmsSignature> CmsSignature::parse(const std::vector<unsigned char>& der, std::error_code& ec,
                                                  std::string& detail) {
    const unsigned char* cursor = der.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cms || cursor != der.data() + der.size()) {
        detail = cms ? "trailing bytes after the signature" : takeOpenSslErrors();
        ec = sign_errc::signature_malformed;
        return nullptr;
    }
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        ec = sign_errc::signature_malformed;
        detail = "not a SignedData";
        return nullptr;
    }
    if (CMS_is_detached(cms.get()) != 1) {
        ec = sign_errc::signature_not_detached;
        return nullptr;
    }
    if (firstSigner(cms.get()) == nullptr) {
        ec = sign_errc::no_signer;
        return nullptr;
    }
    ec.clear();
    auto impl = std::make_unique<Impl>();
    impl->cms = std::move(cms);
    return std::unique_ptr<CmsSignature>(new CmsSignature(std::move(impl)));
}

std::unique_ptr<CmsSignature> CmsSignature::read(IByteSource& source, TrailerLocation& location,
                                                 std::error_code& ec, std::string& detail) {
    std::vector<unsigned char> der;
    if (!readSignatureBlock(source, location, der, ec)) {
        return nullptr;
    }
    return parse(der, ec, detail);
}

std::vector<CertContextPtr> CmsSignature::certificates() const {
    std::vector<CertContextPtr> result;
    X509StackPtr certs(CMS_get1_certs(m_impl->cms.get()));
    for (int i = 0; certs && i < sk_X509_num(certs.get()); ++i) {
        result.push_back(std::make_shared<const Certificate>(sk_X509_value(certs.get(), i)));
    }
    return result;
}

CertContextPtr CmsSignature::firstSignerCertificate(std::error_code& ec) const {
    CMS_SignerInfo* signer = firstSigner(m_impl->cms.get());
    X509StackPtr certs(CMS_get1_certs(m_impl->cms.get()));
    for (int i = 0; signer != nullptr && certs && i < sk_X509_num(certs.get()); ++i) {
        X509* candidate = sk_X509_value(certs.get(), i);
        if (CMS_SignerInfo_cert_cmp(signer, candidate) == 0) {
            ec.clear();
            return std::make_shared<const Certificate>(candidate);
        }
    }
    ec = sign_errc::signer_certificate_missing;
    return nullptr;
}

bool CmsSignature::isSigner(const CertContextPtr& certificate) const {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(m_impl->cms.get());
    for (int i = 0; certificate && i < sk_CMS_SignerInfo_num(signers); ++i) {
        if (CMS_SignerInfo_cert_cmp(sk_CMS_SignerInfo_value(signers, i), certificate->x509()) == 0) {
            return true;
        }
    }
    return false;
}

long long CmsSignature::signingTime() const {
    CMS_SignerInfo* signer = firstSigner(m_impl->cms.get());
    int index = CMS_signed_get_attr_by_NID(signer, NID_pkcs9_signingTime, -1);
    if (index < 0) {
        return -1;
    }
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signer, index);
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value == nullptr ||
        (ASN1_TYPE_get(value) != V_ASN1_UTCTIME && ASN1_TYPE_get(value) != V_ASN1_GENERALIZEDTIME)) {
        return -1;
    }
    auto time = asn1TimeToTime(value->value.utctime);
    return time ? static_cast<long long>(*time) : -1;
}

bool hasCodeSigningUsage(const CertContextPtr& certificate) {
    if (!certificate) {
        return false;
    }
    X509* x = certificate->x509();
    std::uint32_t flags = X509_get_extension_flags(x);
    if ((flags & EXFLAG_INVALID) != 0 || (flags & EXFLAG_XKUSAGE) == 0 ||
        (X509_get_extended_key_usage(x) & XKU_CODE_SIGN) == 0) {
        return false;
    }
    return (flags & EXFLAG_KUSAGE) == 0 || (X509_get_key_usage(x) & KU_DIGITAL_SIGNATURE) != 0;
}

TrustResult CmsSignature::verify(IByteSource& source, std::uint64_t contentLength) const {
    CMS_ContentInfo* cms = m_impl->cms.get();
    std::error_code ec;
    CertContextPtr signer = firstSignerCertificate(ec);
    if (!signer) {
        return refuse(sign_errc::signer_certificate_missing);
    }
    if (!strongDigest(firstSigner(cms))) {
        return refuse(sign_errc::signature_malformed, "the signer's digest is not SHA-256 or stronger");
    }
    if (!hasCodeSigningUsage(signer)) {
        return refuse(sign_errc::no_code_signing_usage);
    }

    std::string problem;
    X509StorePtr store = loadTrustAnchors(problem);
    if (!store) {
        return refuse(sign_errc::no_trust_anchors, problem);
    }
    X509StackPtr carried(CMS_get1_certs(cms));
    TrustResult result;
    int chain = verifyChain(store.get(), signer->x509(), carried.get(), nullptr);
    if (chain == X509_V_OK) {
        result.trustCode = kTrustSuccess;
    } else if (chain == X509_V_ERR_CERT_HAS_EXPIRED) {
        // Signed while the certificate was valid: judge the chain at the signing time.
        long long signedAt = signingTime();
        auto notBefore = asn1TimeToTime(X509_get0_notBefore(signer->x509()));
        auto notAfter = asn1TimeToTime(X509_get0_notAfter(signer->x509()));
        if (signedAt < 0 || !notBefore || !notAfter || signedAt < *notBefore || signedAt > *notAfter) {
            return refuse(sign_errc::signer_expired, signedAt < 0 ? "the signature carries no signing time"
                                                                  : "the signing time lies outside the "
                                                                    "signer's validity");
        }
        std::time_t at = static_cast<std::time_t>(signedAt);
        int atSigning = verifyChain(store.get(), signer->x509(), carried.get(), &at);
        if (atSigning != X509_V_OK) {
            return refuse(sign_errc::untrusted_signer, X509_verify_cert_error_string(atSigning));
        }
        result.trustCode = kTrustTimeStampAccepted;
    } else {
        return refuse(sign_errc::untrusted_signer, X509_verify_cert_error_string(chain));
    }

    // Every signer's signature over the content, streamed from the file in bounded blocks.
    ByteSourceCursor cursor;
    cursor.source = &source;
    cursor.end = contentLength;
    BioPtr content = makeByteSourceBio(cursor);
    if (!content) {
        return refuse(sign_errc::content_mismatch, takeOpenSslErrors());
    }
    int verified =
        CMS_verify(cms, nullptr, nullptr, content.get(), nullptr, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY);
    std::string errors = takeOpenSslErrors();
    if (cursor.error) {
        return refuse(sign_errc::content_mismatch, "reading the file failed: " + cursor.error.message());
    }
    if (verified != 1) {
        return refuse(sign_errc::content_mismatch, errors);
    }
    result.trusted = true;
    return result;
}

}  // namespace talvern::signCheck
