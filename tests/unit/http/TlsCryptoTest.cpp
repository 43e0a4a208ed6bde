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

TEST(AesKey, AcceptsOnlyTheThreeAesSizesAndEnoughBytes) {
    const std::vector<unsigned char> bytes(32, 0x5a);
    for (int bits : {128, 192, 256}) {
        auto key = AesKey::fromBytes(bytes, bits);
        ASSERT_TRUE(key) << bits;
        EXPECT_EQ(key->bits(), bits);
        EXPECT_EQ(key->bytes().size(), static_cast<std::size_t>(bits / 8));
    }
    for (int bits : {0, 64, 127, 129, 512}) {
        EXPECT_FALSE(AesKey::fromBytes(bytes, bits)) << bits;
    }
    EXPECT_FALSE(AesKey::fromBytes(std::vector<unsigned char>(15, 1), 128));
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

TEST(AesCbc, RefusesPartialBlocksEmptyInputAndABadIv) {
    const auto key = AesKey::fromBytes(std::vector<unsigned char>(16, 7), 128);
    const std::vector<unsigned char> iv(16, 1);
    std::string plain = "kept";
    std::vector<unsigned char> cipher{1, 2, 3};
    EXPECT_FALSE(aesCbcDecrypt(*key, iv, std::vector<unsigned char>(), plain));
    EXPECT_FALSE(aesCbcDecrypt(*key, iv, std::vector<unsigned char>(17, 0), plain));
    EXPECT_FALSE(
        aesCbcDecrypt(*key, std::vector<unsigned char>(15, 1), std::vector<unsigned char>(16, 0), plain));
    EXPECT_FALSE(aesCbcDecrypt(*key, std::vector<unsigned char>(), std::vector<unsigned char>(16, 0), plain));
    EXPECT_EQ(plain, "kept");
    EXPECT_FALSE(aesCbcEncrypt(*key, iv, std::string(15, 'x'), cipher));
    EXPECT_FALSE(aesCbcEncrypt(*key, iv, "", cipher));
    EXPECT_EQ(cipher.size(), 3u);
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

TEST(Hex, UpperCaseOutAnyCaseInAndOddCountsReadWithALeadingZero) {
    const std::vector<unsigned char> bytes{0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(toUpperHex(bytes), "000FA5FF");
    std::vector<unsigned char> back;
    ASSERT_TRUE(fromHex("000fA5Ff", back));
    EXPECT_EQ(back, bytes);
    ASSERT_TRUE(fromHex("ABC", back));
    EXPECT_EQ(back, (std::vector<unsigned char>{0x0a, 0xbc}));
    ASSERT_TRUE(fromHex("", back));
    EXPECT_TRUE(back.empty());
    back = {9};
    for (const char* bad : {"0g", "G", "12 4", "-1", "0x12"}) {
        EXPECT_FALSE(fromHex(bad, back)) << bad;
    }
    EXPECT_EQ(back, std::vector<unsigned char>{9});
}

}  // namespace
}  // namespace talvern::tls
