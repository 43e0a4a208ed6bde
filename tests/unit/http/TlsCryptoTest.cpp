#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "http/tls/TlsCrypto.h"

namespace talvern::tls {
namespace {

std::vector<unsigned char> hex(const std::string& text) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

TEST(AesCbc, MatchesThePublishedCbcVectorAndRoundTrips) {
    // The CBC-AES128 example of NIST SP 800-38A (F.2.1), first two blocks.
    const auto key = AesKey::fromBytes(hex("2b7e151628aed2a6abf7158809cf4f3c"), 128);
    const auto iv = hex("000102030405060708090a0b0c0d0e0f");
    const auto plainBytes = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
    const std::string plain(plainBytes.begin(), plainBytes.end());
    std::vector<unsigned char> cipher;
    ASSERT_TRUE(key && aesCbcEncrypt(*key, iv, plain, cipher));
    EXPECT_EQ(toUpperHex(cipher), "7649ABAC8119B246CEE98E9B12E9197D5086CB9B507219EE95DB113A917678B2");
    std::string back;
    ASSERT_TRUE(aesCbcDecrypt(*key, iv, cipher, back));
    EXPECT_EQ(back, plain);
}

TEST(BlockPadding, PadsToWholeBlocksWithTheCountAndRemovesOnlyValidPadding) {
    EXPECT_EQ(padToBlocks(std::string(15, 'a')), std::string(15, 'a') + "\x01");
    EXPECT_EQ(padToBlocks(std::string(16, 'a')), std::string(16, 'a') + std::string(16, '\x10'));

    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u}) {
        std::string text(length, 'z');
        std::string padded = padToBlocks(text);
        ASSERT_TRUE(removeBlockPadding(padded)) << length;
        EXPECT_EQ(padded, text);
    }
    for (std::string bad : {std::string(), std::string("abc\0", 4), std::string(15, 'a') + "\x11",
                            std::string("ab\x02\x03"), std::string("\x05")}) {
        const std::string before = bad;
        EXPECT_FALSE(removeBlockPadding(bad));
        EXPECT_EQ(bad, before);
    }
}

}  // namespace
}  // namespace talvern::tls
