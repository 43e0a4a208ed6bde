#include "signcheck/FileSigner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/pem.h>

#include <array>
#include <cerrno>
#include <vector>

#include "signcheck/ByteSourceBio.h"
#include "signcheck/OpenSsl.h"
#include "signcheck/SignErrors.h"
#include "signcheck/SignatureTrailer.h"

namespace talvern::signCheck {
namespace {

std::error_code lastError() { return {errno, std::system_category()}; }

bool writeAll(int fd, const void* data, std::size_t length, std::error_code& ec) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ec = lastError();
            return false;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the first contentLength bytes of source and then suffix to a new file beside path, then
// renames it over path, so that a reader sees the old file or the new one, never a half-written one.
bool replaceFile(const std::string& path, IByteSource& source, std::uint64_t contentLength,
                 const std::string& suffix, std::error_code& ec) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        ec = lastError();
        return false;
    }
    std::string temporary = path + ".okavel-sign.XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        ec = lastError();
        return false;
    }
    bool ok = true;
    std::array<unsigned char, kReadBlockBytes> block;
    for (std::uint64_t offset = 0; ok && offset < contentLength;) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), contentLength - offset));
        ok = readExactly(source, offset, block.data(), want, ec) && writeAll(fd, block.data(), want, ec);
        offset += want;
    }
    ok = ok && writeAll(fd, suffix.data(), suffix.size(), ec);
    if (ok && (::fchmod(fd, st.st_mode & 07777) != 0 || ::fsync(fd) != 0)) {
        ec = lastError();
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        ec = lastError();
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ec = lastError();
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

// Opens path and finds the length of its own content: everything before a signature it already carries.
std::unique_ptr<FileByteSource> openContent(const std::string& path, std::uint64_t& length,
                                            std::error_code& ec, std::string& detail) {
    auto source = FileByteSource::open(path, ec);
    if (!source) {
        detail = "cannot open " + path;
        return nullptr;
    }
    TrailerLocation location;
    if (locateTrailer(*source, location, ec)) {
        length = location.contentLength;
        return source;
    }
    if (ec == sign_errc::not_signed) {
        length = source->size();
        ec.clear();
        return source;
    }
    detail = "the file ends with a damaged signature trailer; restore the unsigned file first";
    return nullptr;
}

bool readPem(const std::string& path, BioPtr& bio, std::error_code& ec, std::string& detail) {
    bio.reset(BIO_new_file(path.c_str(), "r"));
    if (!bio) {
        ec = sign_errc::bad_key;
        detail = "cannot open " + path + ": " + takeOpenSslErrors();
        return false;
    }
    return true;
}

}  // namespace

bool signFile(const std::string& path, const SignOptions& options, std::error_code& ec, std::string& detail) {
    BioPtr bio;
    if (!readPem(options.certificatePath, bio, ec, detail)) {
        return false;
    }
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!readPem(options.keyPath, bio, ec, detail)) {
        return false;
    }
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate || !key || X509_check_private_key(certificate.get(), key.get()) != 1) {
        ec = sign_errc::bad_key;
        detail = (!certificate ? "no certificate in " + options.certificatePath
                  : !key       ? "no private key in " + options.keyPath
                               : "the key does not belong to the certificate") +
                 std::string(" ") + takeOpenSslErrors();
        return false;
    }
    X509StackPtr chain(sk_X509_new_null());
    if (!options.chainPath.empty()) {
        if (!readPem(options.chainPath, bio, ec, detail)) {
            return false;
        }
        while (X509* extra = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
            sk_X509_push(chain.get(), extra);
        }
        takeOpenSslErrors();  // the end of the file reads as an error
    }

    std::uint64_t contentLength = 0;
    auto source = openContent(path, contentLength, ec, detail);
    if (!source) {
        return false;
    }

    const unsigned flags = CMS_BINARY | CMS_DETACHED | CMS_PARTIAL | CMS_NOSMIMECAP;
    CmsPtr cms(CMS_sign(nullptr, nullptr, chain.get(), nullptr, flags));
    CMS_SignerInfo* signer =
        cms ? CMS_add1_signer(cms.get(), certificate.get(), key.get(), EVP_sha256(), flags) : nullptr;
    std::time_t signedAt = options.signingTime.value_or(std::time(nullptr));
    ASN1_TIME* when = ASN1_TIME_adj(nullptr, signedAt, 0, 0);
    bool ok =
        signer != nullptr && when != nullptr &&
        CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_signingTime, ASN1_STRING_type(when), when, -1) == 1;
    ASN1_TIME_free(when);

    ByteSourceCursor cursor;
    cursor.source = source.get();
    cursor.end = contentLength;
    BioPtr content = makeByteSourceBio(cursor);
    ok = ok && content && CMS_final(cms.get(), content.get(), nullptr, flags) == 1 && !cursor.error;
    std::vector<unsigned char> der;
    if (ok) {
        int length = i2d_CMS_ContentInfo(cms.get(), nullptr);
        ok = length > 0 && static_cast<std::uint32_t>(length) <= kMaxSignatureBytes;
        if (ok) {
            der.resize(static_cast<std::size_t>(length));
            unsigned char* out = der.data();
            ok = i2d_CMS_ContentInfo(cms.get(), &out) == length;
        }
    }
    if (!ok) {
        ec = cursor.error ? cursor.error : make_error_code(sign_errc::signing_failed);
        detail = takeOpenSslErrors();
        return false;
    }
    std::string suffix(der.begin(), der.end());
    suffix += makeTrailer(static_cast<std::uint32_t>(der.size()));
    if (!replaceFile(path, *source, contentLength, suffix, ec)) {
        detail = "cannot write " + path;
        return false;
    }
    return true;
}

bool stripSignature(const std::string& path, std::error_code& ec, std::string& detail) {
    std::uint64_t contentLength = 0;
    auto source = openContent(path, contentLength, ec, detail);
    if (!source) {
        return false;
    }
    if (contentLength == source->size()) {
        return true;
    }
    if (!replaceFile(path, *source, contentLength, {}, ec)) {
        detail = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace talvern::signCheck
