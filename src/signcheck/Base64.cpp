#include "signcheck/Base64.h"

#include <openssl/evp.h>

#include <cctype>

namespace talvern::base64 {

std::string encode(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

bool decode(const std::string& text, std::string& bytes) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            compact.push_back(c);
        }
    }
    if (compact.size() % 4 != 0) {
        return false;
    }
    // Padding only at the end, at most two characters of it.
    std::size_t firstPad = compact.find('=');
    if (firstPad != std::string::npos &&
        (firstPad + 2 < compact.size() || compact.find_first_not_of('=', firstPad) != std::string::npos)) {
        return false;
    }
    std::string out(compact.size() / 4 * 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(compact.data()),
                            static_cast<int>(compact.size()));
    if (n < 0) {
        return false;
    }
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t padding = 0;
    if (!compact.empty() && compact.back() == '=') {
        padding = compact[compact.size() - 2] == '=' ? 2 : 1;
    }
    out.resize(static_cast<std::size_t>(n) - padding);
    bytes = std::move(out);
    return true;
}

}  // namespace talvern::base64
