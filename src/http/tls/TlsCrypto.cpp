#include "http/tls/TlsCrypto.h"

#include <openssl/evp.h>

#include <memory>

#include "support/HexDigit.h"

namespace talvern::tls {

namespace {

using utilities::hexValue;

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

const EVP_CIPHER* cbcCipher(int bits) {
    switch (bits) {
        case 128:
            return EVP_aes_128_cbc();
        case 192:
            return EVP_aes_192_cbc();
        case 256:
            return EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

/// Runs the cipher over whole blocks, without padding, in one direction.
bool runCbc(bool encrypt, const AesKey& key, std::span<const unsigned char> iv,
            std::span<const unsigned char> input, unsigned char* output) {
    if (input.empty() || input.size() % kAesBlockSize != 0 || iv.size() != kAesBlockSize) {
        return false;
    }
    const EVP_CIPHER* cipher = cbcCipher(key.bits());
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> ctx(EVP_CIPHER_CTX_new());
    if (cipher == nullptr || !ctx ||
        EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.bytes().data(), iv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        return false;
    }
    int written = 0;
    int last = 0;
    return EVP_CipherUpdate(ctx.get(), output, &written, input.data(), static_cast<int>(input.size())) == 1 &&
           EVP_CipherFinal_ex(ctx.get(), output + written, &last) == 1 &&
           static_cast<std::size_t>(written + last) == input.size();
}

}  // namespace

std::optional<AesKey> AesKey::fromBytes(std::span<const unsigned char> bytes, int bits) {
    if (bits != 128 && bits != 192 && bits != 256) {
        return std::nullopt;
    }
    const std::size_t size = static_cast<std::size_t>(bits) / 8;
    if (bytes.size() < size) {
        return std::nullopt;
    }
    return AesKey(
        std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)));
}

std::array<unsigned char, 16> complementOfSeed(const std::array<char, 16>& seed) {
    std::array<unsigned char, 16> result{};
    for (std::size_t i = 0; i < seed.size(); ++i) {
        result[i] = static_cast<unsigned char>(~static_cast<unsigned char>(seed[i]));
    }
    return result;
}

bool aesCbcDecrypt(const AesKey& key, std::span<const unsigned char> iv,
                   std::span<const unsigned char> cipher, std::string& plain) {
    std::string output(cipher.size(), '\0');
    if (!runCbc(false, key, iv, cipher, reinterpret_cast<unsigned char*>(output.data()))) {
        return false;
    }
    plain = std::move(output);
    return true;
}

bool aesCbcEncrypt(const AesKey& key, std::span<const unsigned char> iv, std::string_view plain,
                   std::vector<unsigned char>& cipher) {
    std::vector<unsigned char> output(plain.size());
    const std::span<const unsigned char> input(reinterpret_cast<const unsigned char*>(plain.data()),
                                               plain.size());
    if (!runCbc(true, key, iv, input, output.data())) {
        return false;
    }
    cipher = std::move(output);
    return true;
}

std::string padToBlocks(std::string text) {
    const std::size_t n = kAesBlockSize - text.size() % kAesBlockSize;
    text.append(n, static_cast<char>(n));
    return text;
}

bool removeBlockPadding(std::string& text) {
    if (text.empty()) {
        return false;
    }
    const std::size_t n = static_cast<unsigned char>(text.back());
    if (n == 0 || n > kAesBlockSize || n > text.size()) {
        return false;
    }
    for (std::size_t i = text.size() - n; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) != n) {
            return false;
        }
    }
    text.resize(text.size() - n);
    return true;
}

std::string toHex(std::span<const unsigned char> bytes, bool upperCase) {
    const char* kDigits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

bool fromHex(std::string_view text, std::vector<unsigned char>& bytes) {
    std::vector<unsigned char> result;
    result.reserve(text.size() / 2 + 1);
    std::size_t i = 0;
    if (text.size() % 2 != 0) {
        // An odd count reads as if a "0" preceded it.
        const int low = hexValue(text[0]);
        if (low < 0) {
            return false;
        }
        result.push_back(static_cast<unsigned char>(low));
        i = 1;
    }
    for (; i < text.size(); i += 2) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        result.push_back(static_cast<unsigned char>(high << 4 | low));
    }
    bytes = std::move(result);
    return true;
}

std::string untilFirstZero(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace talvern::tls
