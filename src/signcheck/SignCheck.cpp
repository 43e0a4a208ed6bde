#include "signcheck/SignCheck.h"

#include <openssl/x509v3.h>

#include <cstring>

#include "log/Check.h"
#include "log/Log.h"
#include "signcheck/CmsSignature.h"
#include "signcheck/OpenSsl.h"
#include "signcheck/PathEncoding.h"
#include "signcheck/SignErrors.h"

namespace talvern::signCheck {
namespace {

// The tag of the signature checker's log lines.
constexpr const char* kTag = "Tag null";

// The UTF-8 text of the first entry of nid in name; false when absent or unusable.
bool nameEntry(const X509_NAME* name, int nid, std::string& text) {
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return false;
    }
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) {
        takeOpenSslErrors();
        return false;
    }
    text.assign(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    // A name with an embedded NUL could pass a prefix test it was never meant to pass.
    return text.find('\0') == std::string::npos;
}

// The file's signature, or null with the reason logged under the step name of the caller.
std::unique_ptr<CmsSignature> openSignature(const std::string& path, const char* step,
                                            std::unique_ptr<FileByteSource>& file, TrailerLocation& location,
                                            std::error_code& ec) {
    file = FileByteSource::open(path, ec);
    if (!file) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: error code:{},error message:{}", "CreateFileW failed",
                          ec.value(), ec.message() + " (" + path + ")");
        return nullptr;
    }
    std::string detail;
    auto signature = CmsSignature::read(*file, location, ec, detail);
    if (!signature) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: error code:{},error message:{}", step, ec.value(),
                         ec.message() + (detail.empty() ? "" : ": " + detail) + " (" + path + ")");
    }
    return signature;
}

TrustResult verifyFile(const std::string& path) {
    std::unique_ptr<FileByteSource> file;
    TrailerLocation location;
    std::error_code ec;
    auto signature = openSignature(path, "CryptQueryObject failed", file, location, ec);
    if (!signature) {
        TrustResult result;
        result.error = ec;
        return result;
    }
    return signature->verify(*file, location.contentLength);
}

bool signedBy(const std::string& path, const CertContextPtr& certificate) {
    std::unique_ptr<FileByteSource> file;
    TrailerLocation location;
    std::error_code ec;
    auto signature = openSignature(path, "CryptQueryObject failed", file, location, ec);
    return signature && signature->isSigner(certificate);
}

// Runs a check; an exception (memory exhaustion) becomes a logged refusal instead of reaching the caller.
template <typename Result, typename Check>
Result guarded(const char* what, Result refusal, Check&& check) noexcept {
    try {
        return check();
    } catch (const std::exception& e) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", what, e.what());
    } catch (...) {
        OKV_LOG_TAG_ERROR(kTag, "{}; Reason: {}", what, "unknown exception");
    }
    return refusal;
}

}  // namespace

namespace windows {

bool hasTalvernSignWithUTF8(const std::string& pUtf8Path) {
    if (pUtf8Path.empty()) {
        OKV_ENSURE(!pUtf8Path.empty(), "filePath can not be null");
        return false;
    }
    return hasTalvernSignW(widenPath(pUtf8Path));
}

// Linux has no ANSI code page apart from UTF-8: the narrow path is read as bytes exactly like the
// UTF-8 one, so that no path is lost to a conversion.
bool hasTalvernSignA(const std::string& pUtf8Path) {
    if (pUtf8Path.empty()) {
        OKV_ENSURE(!pUtf8Path.empty(), "filePath can not be null");
        return false;
    }
    return hasTalvernSignW(widenPath(pUtf8Path));
}

bool hasTalvernSignW(const std::wstring& path) {
    return guarded<bool>("hasTalvernSignW failed", false, [&]() -> bool {
        if (path.empty()) {
            OKV_LOG_TAG_ERROR(kTag, "filePath equal nullptr");
            return false;
        }
        std::error_code ec;
        CertContextPtr certificate = getFileSign(path, ec);
        if (!certificate) {
            OKV_LOG_TAG_WARN(kTag, "getFileSign({}) failed; Reason: error code:{}, msg:{}", narrowPath(path),
                             ec.value(), ec.message());
            return hasTalvernSignWV2(path);
        }
        if (!isTalvernSign(certificate)) {
            auto name = getCertName(certificate, kCertNameSimpleDisplay);
            OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "isTalvernSign failed",
                             "the file " + narrowPath(path) + " is signed by \"" + (name ? name.get() : "") +
                                 "\", not by " + kTalvernSubjectPrefix);
            return false;
        }
        const bool trusted = checkFileTrust(path);
        if (trusted) {
            OKV_LOG_TAG_DEBUG(kTag, "checkFileTrust succ,file:{}", narrowPath(path));
        } else {
            OKV_LOG_TAG_WARN(kTag, "checkFileTrust failed,file:{}{}", narrowPath(path), "");
        }
        return trusted;
    });
}

bool hasTalvernSignWV2(const std::wstring& path) {
    return guarded<bool>("hasTalvernSignWV2 failed", false, [&]() -> bool {
        CertContextPtr certificate = GetTalvernSignedCertificateByPEFile(path);
        if (!certificate) {
            return false;
        }
        const std::string narrow = narrowPath(path);
        if (!checkFileTrust(path)) {
            OKV_LOG_TAG_WARN(kTag, "checkFileTrust failed,file:{}{}", narrow, "");
            return false;
        }
        // Carrying the maker's certificate is not enough: the maker must be one of the signers.
        if (!signedBy(narrow, certificate)) {
            OKV_LOG_TAG_WARN(kTag, "checkFileTrust failed,file:{}{}", narrow,
                             "; Reason: the maker's certificate is carried but did not sign the file");
            return false;
        }
        return true;
    });
}

CertContextPtr getFileSign(const std::wstring& path, std::error_code& ec) {
    return guarded<CertContextPtr>("getFileSign failed", nullptr, [&]() -> CertContextPtr {
        std::unique_ptr<FileByteSource> file;
        TrailerLocation location;
        auto signature = openSignature(narrowPath(path), "CryptQueryObject failed", file, location, ec);
        if (!signature) {
            return nullptr;
        }
        CertContextPtr certificate = signature->firstSignerCertificate(ec);
        if (!certificate) {
            OKV_LOG_TAG_WARN(kTag, "{}; Reason: error code:{},error message:{}",
                             "CertFindCertificateInStore failed", ec.value(), ec.message());
        }
        return certificate;
    });
}

CertContextPtr GetTalvernSignedCertificateByPEFile(const std::wstring& path) {
    return guarded<CertContextPtr>(
        "GetTalvernSignedCertificateByPEFile failed", nullptr, [&]() -> CertContextPtr {
            std::unique_ptr<FileByteSource> file;
            TrailerLocation location;
            std::error_code ec;
            const std::string narrow = narrowPath(path);
            auto signature = openSignature(narrow, "ImageEnumerateCertificates failed", file, location, ec);
            std::vector<CertContextPtr> certificates;
            if (signature) {
                certificates = signature->certificates();
            }
            if (certificates.empty()) {
                if (file) {
                    OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}; HowTo: {}", narrow,
                                     "No certificates found on the file",
                                     "Please check if the file is signed?");
                }
                return nullptr;
            }
            for (const auto& certificate : certificates) {
                if (hasCodeSigningUsage(certificate) && isTalvernSign(certificate)) {
                    return certificate;
                }
            }
            return nullptr;
        });
}

bool isTalvernSign(const CertContextPtr& pCertContext) {
    if (pCertContext == nullptr) {
        OKV_ENSURE(pCertContext != nullptr, "pCertContext can not be null");
        return false;
    }
    auto name = getCertName(pCertContext, kCertNameSimpleDisplay);
    if (!name) {
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: {}", "CertGetNameString failed",
                         "the certificate has no usable name");
        return false;
    }
    return std::strncmp(name.get(), kTalvernSubjectPrefix, std::strlen(kTalvernSubjectPrefix)) == 0;
}

std::unique_ptr<char[]> getCertName(const CertContextPtr& pCertContext, unsigned flags) {
    if (!pCertContext) {
        return nullptr;
    }
    X509* x = pCertContext->x509();
    const X509_NAME* name =
        (flags & kCertNameIssuerFlag) != 0 ? X509_get_issuer_name(x) : X509_get_subject_name(x);
    std::string text;
    if (!nameEntry(name, NID_commonName, text) && !nameEntry(name, NID_organizationName, text)) {
        return nullptr;
    }
    auto result = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(result.get(), text.c_str(), text.size() + 1);
    return result;
}

bool checkFileTrust(const std::wstring& path) {
    return guarded<bool>("checkFileTrust failed", false, [&]() -> bool {
        TrustResult result = verifyFile(narrowPath(path));
        if (result.trusted) {
            if (result.trustCode != kTrustSuccess) {
                OKV_LOG_TAG_DEBUG(kTag, "WinVerifyTrustEx return trust code({:#010x}), skip it.",
                                  result.trustCode);
            }
            return true;
        }
        OKV_LOG_TAG_WARN(kTag, "{}; Reason: error code:{},error message:{}", "WinVerifyTrustEx return failed",
                         result.error.value(),
                         result.error.message() + (result.detail.empty() ? "" : ": " + result.detail));
        return false;
    });
}

}  // namespace windows
}  // namespace talvern::signCheck
