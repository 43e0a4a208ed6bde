// Signed JSON documents (the plug-in feature list) and the okavel-sign feature-list command.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <rapidjson/document.h>

#include <memory>

#include "signcheck/Base64.h"
#include "signcheck/FileDigest.h"
#include "signcheck/JsonSignChk.h"
#include "signcheck/Rsa.h"
#include "signcheck/SignatureTrailer.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"

namespace {

namespace json = talvern::JsonSignChk;
namespace sc = talvern::signCheck;

using talvern::test::readFile;
using talvern::test::writeFile;

// An RSA PKCS #1 v1.5 SHA-256 signature made with the crypto library directly, not with our code.
std::string referenceSign(const std::string& data, const std::string& privatePem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(privatePem.data(), -1), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EXPECT_EQ(EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()), 1);
    std::size_t length = 0;
    EVP_DigestSign(ctx.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()),
                   data.size());
    std::string signature(length, '\0');
    EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                   reinterpret_cast<const unsigned char*>(data.data()), data.size());
    signature.resize(length);
    return signature;
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
    // "sign" named twice is left out by both sides; 3e23 is a number whose quick reading is a neighbour.
    for (const char* unsignedText : {R"({"plugins":[],"sign":["old"],"sign":"AAAA"})", R"({"size":3e23})"}) {
        const std::string text = signedList(unsignedText);
        EXPECT_EQ(text.find(R"("sign")"), text.rfind(R"("sign")")) << text;
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
    EXPECT_FALSE(json::jsonSignCheck(text, "not a key"));
    EXPECT_FALSE(json::jsonSignCheck(text, keys().privatePem));  // a private key is not the public key
}

TEST_F(JsonSignChkTest, RsaPrimitives) {
    EXPECT_NE(talvern::rsa::generateRSA(keys().publicPem, true), nullptr);
    EXPECT_EQ(talvern::rsa::generateRSA(keys().publicPem, false), nullptr);
    EXPECT_NE(talvern::rsa::generateRSA(keys().privatePem, false), nullptr);
    EXPECT_EQ(talvern::rsa::generateRSA("", true), nullptr);

    talvern::test::TempDir dir;
    talvern::test::TestPki pki(dir.path());
    auto ecRoot = pki.createRootCa("EC");
    EXPECT_EQ(talvern::rsa::generateRSA(ecRoot.keyPem, false), nullptr);  // not an RSA key

    const std::string signature = referenceSign("payload", keys().privatePem);
    EXPECT_TRUE(talvern::rsa::rsa_sha256_verify("payload", signature, keys().publicPem));
    EXPECT_FALSE(talvern::rsa::rsa_sha256_verify("payloaD", signature, keys().publicPem));
    EXPECT_FALSE(talvern::rsa::rsa_sha256_verify("", signature, keys().publicPem));
    EXPECT_FALSE(talvern::rsa::rsa_sha256_verify("payload", "", keys().publicPem));
    EXPECT_FALSE(talvern::rsa::rsa_sha256_verify("payload", signature.substr(1), keys().publicPem));

    std::string ours;
    ASSERT_TRUE(talvern::rsa::rsa_sha256_sign("payload", keys().privatePem, ours));
    EXPECT_EQ(ours, signature);  // PKCS #1 v1.5 is deterministic
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
    auto path = dir.path() / "f";
    writeFile(path, std::string(1000000, 'a'));
    std::string hex;
    std::uint64_t size = 0;
    std::error_code ec;
    ASSERT_TRUE(sc::fileMd5Hex(path, hex, size, ec)) << ec.message();
    EXPECT_EQ(hex, "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(size, 1000000u);
    // Block edges: the streamed digest equals a one-shot digest of the same bytes.
    for (std::size_t size :
         {sc::kReadBlockBytes - 1, sc::kReadBlockBytes, sc::kReadBlockBytes + 1, 2 * sc::kReadBlockBytes}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<char>(i * 31 + 7);
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(content.data(), content.size(), digest, &length, EVP_md5(), nullptr);
        char expected[33];
        for (unsigned int i = 0; i < length; ++i) {
            std::snprintf(expected + 2 * i, 3, "%02x", digest[i]);
        }
        sc::MemoryByteSource source(content);
        ASSERT_TRUE(sc::md5Hex(source, hex, ec));
        EXPECT_EQ(hex, expected) << size;
    }
    EXPECT_FALSE(sc::fileMd5Hex(dir.path() / "missing", hex, size, ec));
    EXPECT_FALSE(sc::fileMd5Hex(dir.path(), hex, size, ec));
}

TEST_F(JsonSignChkTest, ToolWritesAListThatTheCheckAccepts) {
    talvern::test::TempDir dir;
    writeFile(dir.path() / "key.pem", keys().privatePem);
    writeFile(dir.path() / "Alpha.SO", "a");
    writeFile(dir.path() / "beta.so", std::string(40000, 'b'));
    const auto out = dir.path() / "plugins_feature.json";
    const std::string command = std::string("\"") + OKAVEL_SIGN_TOOL + "\" feature-list --key \"" +
                                (dir.path() / "key.pem").string() + "\" --out \"" + out.string() + "\" \"" +
                                (dir.path() / "Alpha.SO").string() + "\" \"" +
                                (dir.path() / "beta.so").string() + "\" >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const std::string text = readFile(out);
    EXPECT_TRUE(check(text)) << text;
    rapidjson::Document document;
    document.Parse(text.c_str());
    ASSERT_TRUE(document.IsObject());
    auto member = document.MemberBegin();
    EXPECT_STREQ(member->name.GetString(), "plugins");
    EXPECT_STREQ((++member)->name.GetString(), "sign");
    const auto& plugins = document["plugins"];
    ASSERT_EQ(plugins.Size(), 2u);
    EXPECT_STREQ(plugins[0]["name"].GetString(), "alpha.so");
    EXPECT_STREQ(plugins[0]["md5"].GetString(), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(plugins[0]["fileSize"].GetInt64(), 1);
    EXPECT_STREQ(plugins[1]["name"].GetString(), "beta.so");
    EXPECT_EQ(plugins[1]["fileSize"].GetInt64(), 40000);

    std::string upper = text;
    upper.replace(upper.find("0cc175b9c0f1b6a831c399e269772661"), 32, "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_FALSE(check(upper));
}

TEST(JsonSignChkProgramKeyTest, DevelopmentListVerifiesUnderTheCompiledInKey) {
    const std::string publicKey = readFile(OKAVEL_DEV_FEATURE_LIST_PUBLIC_KEY);
    if (publicKey != json::programPublicKey()) {
        GTEST_SKIP() << "the build compiles in a feature-list key other than the development one";
    }
    std::string signedText;
    std::string reason;
    ASSERT_TRUE(
        json::jsonSign(kList, readFile(OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY), true, signedText, reason))
        << reason;
    EXPECT_TRUE(json::jsonSignCheck(signedText));
    EXPECT_EQ(json::programPublicKey().size(), 451u);
}

}  // namespace
