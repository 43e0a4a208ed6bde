#include <gtest/gtest.h>

#include <string>

#include "http/tls/TlsCrypto.h"

namespace talvern::tls {
namespace {

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
