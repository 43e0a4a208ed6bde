// Signed JSON documents (the plug-in feature list) and the okavel-sign feature-list command.

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>

#include "signcheck/Base64.h"
#include "signcheck/FileDigest.h"
#include "signcheck/JsonSignChk.h"
#include "signcheck/SignatureTrailer.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"

namespace {

namespace json = talvern::JsonSignChk;
namespace sc = talvern::signCheck;

using talvern::test::readFile;
using talvern::test::writeFile;

// An RSA PKCS #1 v1.5 SHA-256 signature made by the openssl command, not by our code.
std::string referenceSign(const std::string& data, const std::string& privatePem) {
    talvern::test::TempDir dir;
    writeFile(dir / "data", data);
    writeFile(dir / "key.pem", privatePem);
    const std::string command = "openssl dgst -sha256 -sign '" + (dir / "key.pem").string() + "' -out '" +
                                (dir / "sig").string() + "' '" + (dir / "data").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readFile(dir / "sig");
}

class JsonSignChkTest : public ::testing::Test {
protected:
    // Made once for the whole program: RSA key generation is slow.
    static const talvern::test::RsaKeyPair& keys() {
        static const auto pair = talvern::test::TestPki::createRsaKeyPair();
        return pair;
    }

    static std::string signedList(const std::string& unsignedText) {
        std::string signedText;
        std::string reason;
        EXPECT_TRUE(json::jsonSign(unsignedText, keys().privatePem, false, signedText, reason)) << reason;
        return signedText;
    }

    static bool check(const std::string& text) { return json::jsonSignCheck(text, keys().publicPem); }
};

const char* kList = R"({"plugins":[{"name":"a.so","md5":"0cc175b9c0f1b6a831c399e269772661","fileSize":1},)"
                    R"({"name":"b.so","md5":"92eb5ffee6ae2fec3ad71c777531578f","fileSize":2}]})";

TEST_F(JsonSignChkTest, SignatureCoversTheCompactTextWithoutSign) {
    // Signed independently over the exact bytes the document serialises to.
    const std::string signature = talvern::base64::encode(referenceSign(kList, keys().privatePem));
    std::string text = kList;
    text.insert(text.size() - 1, R"(,"sign":")" + signature + "\"");
    EXPECT_TRUE(check(text));

    // White space and the place of "sign" are not part of what was signed.
    const std::string spaced = "{ \"sign\" : \"" + signature + "\",\n  \"plugins\" : " +
                               std::string(kList).substr(11, std::string(kList).size() - 12) + "\n}";
    EXPECT_TRUE(check(spaced)) << spaced;
}

TEST_F(JsonSignChkTest, EditedReorderedOrUpperCasedListsFail) {
    const std::string text = signedList(kList);
    ASSERT_TRUE(check(text));
    EXPECT_FALSE(json::jsonSignCheck(text, talvern::test::TestPki::createRsaKeyPair().publicPem));

    std::string edited = text;
    edited.replace(edited.find("0cc175b9"), 8, "1cc175b9");
    EXPECT_FALSE(check(edited));

    std::string upper = text;
    upper.replace(upper.find("0cc175b9c0f1b6a831c399e269772661"), 32, "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_FALSE(check(upper));

    std::string reordered = text;
    reordered.replace(reordered.find(R"("name":"a.so","md5":"0cc175b9c0f1b6a831c399e269772661")"), 53,
                      R"("md5":"0cc175b9c0f1b6a831c399e269772661","name":"a.so")");
    ASSERT_NE(reordered, text);
    EXPECT_FALSE(check(reordered));

    std::string size = text;
    size.replace(size.find(R"("fileSize":1)"), 12, R"("fileSize":10)");
    EXPECT_FALSE(check(size));
}

TEST_F(JsonSignChkTest, WhatTheSignerSignsItsCheckerAccepts) {
    // "sign" named twice is left out by both sides; 3e23 is a number whose quick reading is a neighbour, and
    // 0e63 one that RapidJSON's correctly rounded reading took for -6.4e265 (a fuzzer finding). Numbers at
    // the bounds signed lists keep (100 digits, exponents of 200) are signed and checked as any other;
    // integers stay integers.
    const std::string longest = "0." + std::string(98, '0') + "1";
    const std::string edges = R"({"tiny":-1.5e-200,"huge":9.9E+200,"long":)" + longest + "}";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"plugins":[],"sign":["old"],"sign":"AAAA"})", R"("plugins":[])"},
        {R"({"size":3e23})", R"("size":3e23)"},
        {R"({"zero":0e63,"z":-0E-9})", R"("zero":0.0,"z":-0.0)"},
        {R"({"big":18446744073709551615,"low":-9223372036854775808,"over":18446744073709551616})",
         R"("big":18446744073709551615,"low":-9223372036854775808,"over":18446744073709553000.0)"},
        {edges, R"("huge":9.9e200)"},
    };
    for (const auto& [unsignedText, kept] : cases) {
        const std::string text = signedList(unsignedText);
        EXPECT_EQ(text.find(R"("sign")"), text.rfind(R"("sign")")) << text;
        EXPECT_NE(text.find(kept), std::string::npos) << text;
        EXPECT_TRUE(check(text)) << text;
    }
}

TEST_F(JsonSignChkTest, MalformedDocumentsFail) {
    const std::string text = signedList(kList);
    const std::string sign = text.substr(text.find(R"("sign":")") + 8);
    const std::string cases[] = {
        "",
        "not json",
        kList,                                  // no sign
        R"(["sign"])",                          // not an object
        R"({"plugins":[],"sign":42})",          // sign not a string
        R"({"plugins":[],"sign":""})",          // empty signature
        R"({"plugins":[],"sign":"@@@@"})",      // not Base64
        R"({"plugins":[],"sign":"QUJD=A=="})",  // padding inside
        text.substr(0, text.size() - 2),        // cut
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(check(c)) << c;
    }
    // A number whose digits lie far from the point once made the correctly rounded reading index its table of
    // powers out of bounds (fuzzer findings: 90 digits and e-362, 400 zeros after the point): numbers past
    // the bounds are refused by both sides, and so is a number too big for a double.
    const std::string refused[] = {
        "672.00000000000000000001300000000000000000000000000000000001300000000000000000013e-362",
        "0." + std::string(400, '0') + "e0",
        "0." + std::string(99, '0') + "1",
        "1e201",
        "-1e-201",
        "1e400",
    };
    for (const std::string& number : refused) {
        EXPECT_FALSE(check(R"({"n":)" + number + R"(,"sign":"AAAA"})")) << number;
        std::string signedText;
        std::string reason;
        EXPECT_FALSE(json::jsonSign(R"({"n":)" + number + "}", keys().privatePem, false, signedText, reason));
        EXPECT_EQ(reason,
                  number == "1e400" ? "Number too big to be stored in double." : "a number is out of range")
            << number;
    }
    EXPECT_FALSE(json::jsonSignCheck(text, "not a key"));
    EXPECT_FALSE(json::jsonSignCheck(text, keys().privatePem));  // a private key is not the public key
}

TEST(Base64Test, KnownVectorsAndRefusals) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\xff\x00", 2), "/wA="}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(talvern::base64::encode(plain), encoded);
        std::string decoded;
        ASSERT_TRUE(talvern::base64::decode(encoded, decoded)) << encoded;
        EXPECT_EQ(decoded, plain);
    }
    std::string decoded;
    EXPECT_TRUE(talvern::base64::decode("Zm9v\nYg==", decoded));
    EXPECT_EQ(decoded, "foob");
    for (const char* bad : {"Zg=", "Zg=a", "Z===", "Zm9v!A==", "=Zm9"}) {
        EXPECT_FALSE(talvern::base64::decode(bad, decoded)) << bad;
    }
}

TEST(FileDigestTest, Md5OfKnownContentAcrossBlockBoundaries) {
    talvern::test::TempDir dir;
    writeFile(dir / "f", std::string(1000000, 'a'));
    std::string hex;
    std::uint64_t size = 0;
    std::error_code ec;
    ASSERT_TRUE(sc::fileMd5Hex(dir / "f", hex, size, ec)) << ec.message();
    EXPECT_EQ(hex, "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(size, 1000000u);
    EXPECT_FALSE(sc::fileMd5Hex(dir / "missing", hex, size, ec));
    EXPECT_FALSE(sc::fileMd5Hex(dir.path(), hex, size, ec));
}

}  // namespace
