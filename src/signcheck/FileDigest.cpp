#include "signcheck/FileDigest.h"

#include <array>

#include "signcheck/OpenSsl.h"
#include "signcheck/SignErrors.h"
#include "signcheck/SignatureTrailer.h"

namespace talvern::signCheck {

bool md5Hex(IByteSource& source, std::string& hex, std::error_code& ec) {
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        ec = sign_errc::signing_failed;
        return false;
    }
    std::array<unsigned char, kReadBlockBytes> block;
    std::uint64_t offset = 0;
    for (;;) {
        long long n = source.readAt(offset, block.data(), block.size(), ec);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        EVP_DigestUpdate(ctx.get(), block.data(), static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &length);
    static constexpr char kHex[] = "0123456789abcdef";
    hex.clear();
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0f]);
    }
    ec.clear();
    return true;
}

bool fileMd5Hex(const std::string& path, std::string& hex, std::uint64_t& size, std::error_code& ec) {
    auto file = FileByteSource::open(path, ec);
    if (!file) {
        return false;
    }
    size = file->size();
    return md5Hex(*file, hex, ec);
}

}  // namespace talvern::signCheck
