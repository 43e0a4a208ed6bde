#include <gtest/gtest.h>

#include "signcheck/SignErrors.h"
#include "signcheck/SignatureTrailer.h"

namespace {

namespace sc = talvern::signCheck;

TEST(SignatureTrailerTest, LengthIsBigEndianBeforeTheMagic) {
    const std::string trailer = sc::makeTrailer(0x01020304);
    ASSERT_EQ(trailer.size(), sc::kTrailerBytes);
    EXPECT_EQ(trailer.substr(0, 4), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(trailer.substr(4), "~Talvern signature appended~\n");
}

TEST(SignatureTrailerTest, StatedLengthMustFitTheFile) {
    sc::TrailerLocation location;
    std::error_code ec;
    const std::uint64_t room = 1000;  // bytes before the trailer
    const std::uint64_t fileSize = room + sc::kTrailerBytes;

    ASSERT_TRUE(sc::parseTrailer(sc::makeTrailer(room), fileSize, location, ec));  // no content at all
    EXPECT_EQ(location.contentLength, 0u);
    EXPECT_EQ(location.signatureLength, room);

    ASSERT_TRUE(sc::parseTrailer(sc::makeTrailer(1), fileSize, location, ec));
    EXPECT_EQ(location.contentLength, room - 1);

    EXPECT_FALSE(sc::parseTrailer(sc::makeTrailer(room + 1), fileSize, location, ec));
    EXPECT_EQ(ec, sc::sign_errc::trailer_malformed);
    EXPECT_FALSE(sc::parseTrailer(sc::makeTrailer(0), fileSize, location, ec));
    EXPECT_EQ(ec, sc::sign_errc::trailer_malformed);

    const std::uint64_t bigFile = std::uint64_t{sc::kMaxSignatureBytes} * 4;
    EXPECT_TRUE(sc::parseTrailer(sc::makeTrailer(sc::kMaxSignatureBytes), bigFile, location, ec));
    EXPECT_FALSE(sc::parseTrailer(sc::makeTrailer(sc::kMaxSignatureBytes + 1), bigFile, location, ec));
    EXPECT_EQ(ec, sc::sign_errc::signature_too_large);
}

TEST(SignatureTrailerTest, AnythingButTheExactMagicIsUnsigned) {
    sc::TrailerLocation location;
    std::error_code ec;
    std::string trailer = sc::makeTrailer(10);
    for (std::size_t i = sc::kSignatureLengthBytes; i < trailer.size(); ++i) {
        std::string altered = trailer;
        altered[i] = static_cast<char>(altered[i] ^ 0x20);
        EXPECT_FALSE(sc::parseTrailer(altered, 500, location, ec)) << "byte " << i;
        EXPECT_EQ(ec, sc::sign_errc::not_signed);
    }
    EXPECT_FALSE(sc::parseTrailer(trailer.substr(1), 500, location, ec));
    EXPECT_FALSE(sc::parseTrailer(trailer, sc::kTrailerBytes - 1, location, ec));
}

}  // namespace
