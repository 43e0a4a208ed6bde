// The maker's signature check on files, through the library and through the okavel-sign tool: the two
// must agree on every file.

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/pem.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "log/Check.h"
#include "signcheck/FileSigner.h"
#include "signcheck/PathEncoding.h"
#include "signcheck/SignCheck.h"
#include "signcheck/SignErrors.h"
#include "signcheck/SignatureTrailer.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"

namespace {

namespace sc = talvern::signCheck;
namespace win = talvern::signCheck::windows;
using talvern::test::CertOptions;
using talvern::test::PkiIdentity;
using talvern::test::readFile;
using talvern::test::writeFile;

std::string someContent(std::size_t size, unsigned seed = 7) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

CertOptions validFor(std::chrono::seconds notBefore, std::chrono::seconds notAfter) {
    CertOptions options;
    options.notBefore = notBefore;
    options.notAfter = notAfter;
    return options;
}

sc::SignOptions signedAt(std::time_t signingTime) {
    sc::SignOptions options;
    options.signingTime = signingTime;
    return options;
}

class SignCheckTest : public ::testing::Test {
protected:
    // A file of content signed by identity (unsigned when identity is null).
    std::filesystem::path makeFile(const std::string& name, const std::string& content,
                                   const PkiIdentity* identity, sc::SignOptions options = {}) {
        auto path = m_dir.path() / name;
        writeFile(path, content);
        if (identity != nullptr) {
            sign(path, *identity, options);
        }
        return path;
    }

    void sign(const std::filesystem::path& path, const PkiIdentity& identity, sc::SignOptions options = {}) {
        options.certificatePath = identity.certificate;
        options.keyPath = identity.key;
        std::error_code ec;
        std::string detail;
        ASSERT_TRUE(sc::signFile(path, options, ec, detail)) << ec.message() << " " << detail;
    }

    // The verdict of the library, checked against the verdict of "okavel-sign verify".
    bool accepted(const std::filesystem::path& path) {
        const bool library = win::hasTalvernSignA(path.string());
        const std::string command =
            std::string("\"") + OKAVEL_SIGN_TOOL + "\" verify \"" + path.string() + "\" >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status));
        const int exitCode = WEXITSTATUS(status);
        EXPECT_TRUE(exitCode == 0 || exitCode == 1) << "tool exit " << exitCode;
        EXPECT_EQ(library, exitCode == 0) << "library and okavel-sign verify disagree on " << path;
        return library;
    }

    talvern::test::TempDir m_dir;
    talvern::test::TestPki m_pki{m_dir.path() / "pki"};
    PkiIdentity m_root = m_pki.createRootCa("Test Root CA");
    PkiIdentity m_foreignRoot = m_pki.createRootCa("Foreign Root CA");
    PkiIdentity m_maker = m_pki.issue(m_root, CertOptions{}, "maker");
    talvern::test::ScopedEnv m_anchors{"OKAVEL_TRUST_ANCHORS", m_root.certificate.string()};
};

TEST_F(SignCheckTest, UnsignedAndMissingFilesAreRefused) {
    EXPECT_FALSE(accepted(makeFile("plain.so", someContent(5000), nullptr)));
    EXPECT_FALSE(accepted(makeFile("empty.so", "", nullptr)));
    EXPECT_FALSE(accepted(m_dir.path() / "missing.so"));
    EXPECT_FALSE(accepted(m_dir.path()));  // a directory
}

TEST_F(SignCheckTest, MakerSignedFilesAroundTheReadBlockAreAcceptedAndKeepTheirContent) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, sc::kReadBlockBytes - 1, sc::kReadBlockBytes,
                             sc::kReadBlockBytes + 1, 3 * sc::kReadBlockBytes, std::size_t{3} << 20}) {
        SCOPED_TRACE("content of " + std::to_string(size) + " bytes");
        const std::string content = someContent(size, static_cast<unsigned>(size));
        auto path = makeFile("sized.so", content, &m_maker);
        EXPECT_TRUE(accepted(path));
        const std::string signedBytes = readFile(path);
        ASSERT_GT(signedBytes.size(), content.size() + sc::kTrailerBytes);
        EXPECT_EQ(signedBytes.substr(0, content.size()), content);
        EXPECT_EQ(signedBytes.substr(signedBytes.size() - sc::kSignatureMagic.size()), sc::kSignatureMagic);
    }
}

TEST_F(SignCheckTest, SignerNameMustBeginWithTheMakerPrefixCaseSensitively) {
    struct Case {
        std::string cn;
        std::string o;
        bool accepted;
    };
    const Case cases[] = {
        {"Talvern Technologies", "", true},
        {"Talvern Technologies Ltd.", "Elsewhere Inc", true},
        {"", "Talvern Technologies Ltd", true},  // no CN: the organisation is the display name
        {"talvern technologies", "", false},
        {"TALVERN TECHNOLOGIES LTD", "", false},
        {"Talvern Technologie", "", false},
        {" Talvern Technologies", "", false},
        {"Someone Else", "Talvern Technologies Ltd", false},  // CN wins over O
    };
    int n = 0;
    for (const auto& c : cases) {
        CertOptions options;
        options.commonName = c.cn;
        options.organization = c.o;
        auto signer = m_pki.issue(m_root, options, "named" + std::to_string(n));
        auto path = makeFile("named" + std::to_string(n++) + ".so", someContent(100), &signer);
        EXPECT_EQ(accepted(path), c.accepted) << "CN \"" << c.cn << "\" O \"" << c.o << "\"";
    }
}

TEST_F(SignCheckTest, UntrustedIssuerOrMissingCodeSigningUsageIsRefused) {
    auto foreign = m_pki.issue(m_foreignRoot, CertOptions{}, "foreign");
    EXPECT_FALSE(accepted(makeFile("foreign.so", "abc", &foreign)));

    CertOptions noUsage;
    noUsage.codeSigning = false;
    auto mailSigner = m_pki.issue(m_root, noUsage, "mail");
    auto path = makeFile("mail.so", "abc", &mailSigner);
    EXPECT_FALSE(accepted(path));
    EXPECT_FALSE(win::checkFileTrust(sc::widenPath(path.string())));
    EXPECT_EQ(win::GetTalvernSignedCertificateByPEFile(sc::widenPath(path.string())), nullptr);

    // A trusted CA's own key is not a code-signing certificate either.
    CertOptions caOptions;
    caOptions.isCa = true;
    caOptions.commonName = "Talvern Technologies CA";
    auto makerCa = m_pki.issue(m_root, caOptions, "maker-ca");
    EXPECT_FALSE(accepted(makeFile("ca-signed.so", "abc", &makerCa)));
}

TEST_F(SignCheckTest, AnotherTrustedPublisherIsRefusedEvenWhenItCarriesTheMakersCertificate) {
    CertOptions otherName;
    otherName.commonName = "Other Publisher Ltd";
    auto other = m_pki.issue(m_root, otherName, "other");
    sc::SignOptions options;
    options.chainPath = m_maker.certificate;  // the maker's certificate rides along
    auto path = makeFile("other.so", "abc", &other, options);
    const auto wide = sc::widenPath(path.string());

    EXPECT_TRUE(win::checkFileTrust(wide));  // a valid signature of a trusted publisher...
    EXPECT_NE(win::GetTalvernSignedCertificateByPEFile(wide), nullptr);
    EXPECT_FALSE(accepted(path));  // ...but not the maker's
    EXPECT_FALSE(win::hasTalvernSignWV2(wide));
    EXPECT_TRUE(win::hasTalvernSignWV2(sc::widenPath(makeFile("maker.so", "abc", &m_maker).string())));
}

TEST_F(SignCheckTest, TrustAnchorsComeFromTheEnvironmentVariable) {
    auto path = makeFile("plugin.so", "abc", &m_maker);
    ASSERT_TRUE(accepted(path));
    ::setenv("OKAVEL_TRUST_ANCHORS", (m_dir.path() / "no-such-bundle.pem").c_str(), 1);
    EXPECT_FALSE(accepted(path));
    // A bundle of several anchors: any of them will do.
    ::setenv("OKAVEL_TRUST_ANCHORS", m_pki.writeBundle({m_foreignRoot, m_root}, "bundle.pem").c_str(), 1);
    EXPECT_TRUE(accepted(path));
    ::unsetenv("OKAVEL_TRUST_ANCHORS");
    EXPECT_FALSE(accepted(path));
}

TEST_F(SignCheckTest, IntermediateCaIsUsedWhenTheSignatureCarriesIt) {
    CertOptions caOptions;
    caOptions.isCa = true;
    caOptions.commonName = "Test Issuing CA";
    auto intermediate = m_pki.issue(m_root, caOptions, "intermediate");
    auto leaf = m_pki.issue(intermediate, CertOptions{}, "leaf");

    auto withoutChain = makeFile("nochain.so", "abc", &leaf);
    EXPECT_FALSE(accepted(withoutChain));

    sc::SignOptions options;
    options.chainPath = intermediate.certificate;
    auto withChain = makeFile("chain.so", "abc", &leaf, options);
    EXPECT_TRUE(accepted(withChain));
    auto certificate = win::GetTalvernSignedCertificateByPEFile(sc::widenPath(withChain.string()));
    ASSERT_NE(certificate, nullptr);
    EXPECT_STREQ(win::getCertName(certificate, win::kCertNameSimpleDisplay).get(),
                 "Talvern Technologies Ltd");
    EXPECT_STREQ(win::getCertName(certificate, win::kCertNameIssuerFlag).get(), "Test Issuing CA");
}

TEST_F(SignCheckTest, ExpiredSignerIsAcceptedOnlyWhenItSignedInsideItsValidity) {
    using days = std::chrono::days;
    const std::time_t now = std::time(nullptr);
    const std::time_t day = 24 * 3600;
    auto oldSigner = m_pki.issue(m_root, validFor(-days(10), -days(2)), "expired");
    EXPECT_TRUE(accepted(makeFile("signed-in-time.so", "abc", &oldSigner, signedAt(now - 5 * day))));
    EXPECT_FALSE(accepted(makeFile("signed-late.so", "abc", &oldSigner, signedAt(now - day))));
    EXPECT_FALSE(accepted(makeFile("signed-early.so", "abc", &oldSigner, signedAt(now - 20 * day))));

    // A certificate that is not valid yet is refused whatever the signature claims.
    auto futureSigner = m_pki.issue(m_root, validFor(days(1), days(2)), "future");
    EXPECT_FALSE(accepted(makeFile("future.so", "abc", &futureSigner, signedAt(now + 30 * 3600))));
}

TEST_F(SignCheckTest, AnyChangedByteIsRefused) {
    const std::string content = someContent(40000);
    auto path = makeFile("plugin.so", content, &m_maker);
    const std::string original = readFile(path);
    ASSERT_TRUE(accepted(path));

    const std::size_t signatureStart = content.size();
    for (std::size_t offset : {std::size_t{0}, content.size() / 2, content.size() - 1, signatureStart + 40,
                               original.size() - sc::kTrailerBytes - 20}) {
        std::string altered = original;
        altered[offset] = static_cast<char>(altered[offset] ^ 0x01);
        writeFile(path, altered);
        EXPECT_FALSE(accepted(path)) << "byte " << offset << " flipped";
    }
    // Bytes appended after the trailer hide the signature.
    writeFile(path, original + "x");
    EXPECT_FALSE(accepted(path));
}

TEST_F(SignCheckTest, DamagedTrailersAreRefusedWithoutCrashing) {
    auto path = makeFile("plugin.so", someContent(3000), &m_maker);
    const std::string original = readFile(path);
    const std::string body = original.substr(0, original.size() - sc::kTrailerBytes);
    auto withLength = [&](std::uint32_t length, const std::string& before) {
        return before + sc::makeTrailer(length);
    };
    const std::string cases[] = {
        original.substr(0, original.size() - 1),                       // truncated magic
        original.substr(0, original.size() - sc::kTrailerBytes - 10),  // trailer cut off
        withLength(0, body),
        withLength(static_cast<std::uint32_t>(body.size() + 1), body),  // longer than the file
        withLength(0xFFFFFFFFu, body),
        withLength(sc::kMaxSignatureBytes + 1, std::string(sc::kMaxSignatureBytes + 10, 'a')),
        withLength(200, someContent(1000) + std::string(200, '\x30')),  // garbage DER
        withLength(10, "abc" + std::string("\x30\x08\x06\x03\x2a\x03\x04\x05\x01\x00", 10)),
        std::string(sc::kSignatureMagic),
        withLength(4, "\x30\x02\x05\x00"),
    };
    int n = 0;
    for (const auto& bytes : cases) {
        writeFile(path, bytes);
        EXPECT_FALSE(accepted(path)) << "case " << n;
        std::error_code ec;
        EXPECT_EQ(win::getFileSign(sc::widenPath(path.string()), ec), nullptr) << "case " << n;
        EXPECT_TRUE(ec) << "case " << n;
        ++n;
    }
}

TEST_F(SignCheckTest, ASignatureOverASha1DigestIsRefused) {
    const std::string content = someContent(500);
    BIO* certText = BIO_new_mem_buf(m_maker.certificatePem.data(), -1);
    BIO* keyText = BIO_new_mem_buf(m_maker.keyPem.data(), -1);
    X509* certificate = PEM_read_bio_X509(certText, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyText, nullptr, nullptr, nullptr);
    BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    const int flags = CMS_DETACHED | CMS_BINARY;
    CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, flags | CMS_PARTIAL);
    ASSERT_NE(CMS_add1_signer(cms, certificate, key, EVP_sha1(), flags), nullptr);
    ASSERT_EQ(CMS_final(cms, data, nullptr, flags), 1);
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms, &der);
    ASSERT_GT(length, 0);
    const auto path = m_dir.path() / "sha1.so";
    writeFile(path, content + std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(length)) +
                        sc::makeTrailer(static_cast<std::uint32_t>(length)));
    EXPECT_FALSE(accepted(path));
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    for (BIO* bio : {certText, keyText, data}) {
        BIO_free(bio);
    }
    X509_free(certificate);
    EVP_PKEY_free(key);
}

TEST_F(SignCheckTest, ResigningReplacesTheSignature) {
    const std::string content = someContent(20000);
    auto foreign = m_pki.issue(m_foreignRoot, CertOptions{}, "foreign");
    auto path = makeFile("plugin.so", content, &foreign);
    EXPECT_FALSE(accepted(path));

    sign(path, m_maker);
    EXPECT_TRUE(accepted(path));
    const std::string once = readFile(path);
    sign(path, m_maker);
    const std::string twice = readFile(path);
    EXPECT_EQ(twice.substr(0, content.size()), content);
    // One signature, not two stacked: the signed content is the original content alone.
    std::error_code openError;
    auto source = sc::FileByteSource::open(path.string(), openError);
    ASSERT_NE(source, nullptr);
    sc::TrailerLocation location;
    ASSERT_TRUE(sc::locateTrailer(*source, location, openError));
    EXPECT_EQ(location.contentLength, content.size());
    EXPECT_NEAR(static_cast<double>(once.size()), static_cast<double>(twice.size()),
                8.0);  // ECDSA sizes vary

    std::error_code ec;
    std::string detail;
    ASSERT_TRUE(sc::stripSignature(path, ec, detail)) << detail;
    EXPECT_EQ(readFile(path), content);
    EXPECT_FALSE(accepted(path));
}

TEST_F(SignCheckTest, SigningKeepsPermissionsAndRefusesAMismatchedKey) {
    auto path = makeFile("tool", "#!/bin/sh\nexit 0\n", nullptr);
    std::filesystem::permissions(path, std::filesystem::perms(0750));
    sign(path, m_maker);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0750));

    const std::string before = readFile(path);
    sc::SignOptions mismatched;
    mismatched.certificatePath = m_maker.certificate;
    mismatched.keyPath = m_root.key;
    std::error_code ec;
    std::string detail;
    EXPECT_FALSE(sc::signFile(path, mismatched, ec, detail));
    EXPECT_EQ(ec, sc::sign_errc::bad_key);
    EXPECT_EQ(readFile(path), before);
}

TEST_F(SignCheckTest, SignerCertificateAndItsNames) {
    auto path = makeFile("plugin.so", "abc", &m_maker);
    std::error_code ec;
    auto certificate = win::getFileSign(sc::widenPath(path.string()), ec);
    ASSERT_NE(certificate, nullptr) << ec.message();
    EXPECT_TRUE(win::isTalvernSign(certificate));
    EXPECT_STREQ(win::getCertName(certificate, win::kCertNameIssuerFlag).get(), "Test Root CA");
    sc::CertificateInfo info;
    ASSERT_TRUE(sc::describeCertificate(certificate, info));
    EXPECT_EQ(info.subject, "CN=Talvern Technologies Ltd");
    EXPECT_TRUE(info.codeSigningUsage);
    EXPECT_LT(info.notBefore, std::time(nullptr));
    EXPECT_GT(info.notAfter, std::time(nullptr));

    EXPECT_EQ(win::getFileSign(sc::widenPath(makeFile("plain.so", "abc", nullptr).string()), ec), nullptr);
    EXPECT_EQ(ec, sc::sign_errc::not_signed);
}

TEST_F(SignCheckTest, PathsThatAreNotUtf8AreCheckedByTheirBytes) {
    const std::string name = "pl\xff\xfeugin-\xc3\xa9.so";
    auto path = makeFile(name, "abc", &m_maker);
    EXPECT_TRUE(accepted(path));
    EXPECT_TRUE(win::hasTalvernSignWithUTF8(path.string()));
    EXPECT_EQ(sc::narrowPath(sc::widenPath(path.string())), path.string());
}

TEST(PathEncodingTest, RoundTripsEveryByteString) {
    const std::string samples[] = {"",
                                   "plain/ascii.so",
                                   "\xc3\xa9t\xc3\xa9",
                                   "\xf0\x9f\x98\x80",
                                   "\xff",
                                   "\xc0\xaf",      // overlong slash stays bytes
                                   "\xed\xa0\x80",  // encoded surrogate is not UTF-8
                                   "\xe2\x82",
                                   "a\x80"
                                   "b"};
    for (const auto& s : samples) {
        EXPECT_EQ(sc::narrowPath(sc::widenPath(s)), s);
    }
    EXPECT_EQ(sc::widenPath("\xc3\xa9"), std::wstring(1, L'\u00e9'));
    EXPECT_EQ(sc::widenPath("\xc0\xaf").size(), 2u);
}

TEST_F(SignCheckTest, EmptyPathFailsTheArgumentCheck) {
    std::atomic<int> aborts{0};
    talvern::check::setFatalActions([&] { ++aborts; }, [] {});
    EXPECT_FALSE(win::hasTalvernSignA(""));
    EXPECT_FALSE(win::hasTalvernSignWithUTF8(""));
    EXPECT_FALSE(win::isTalvernSign(nullptr));
    EXPECT_FALSE(win::hasTalvernSignW(L""));
    talvern::check::setFatalActions(nullptr, nullptr);
    EXPECT_EQ(aborts.load(), 3);
}

TEST_F(SignCheckTest, ConcurrentChecksAgree) {
    auto good = makeFile("good.so", someContent(50000), &m_maker);
    auto bad = makeFile("bad.so", someContent(50000), nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                if (!win::hasTalvernSignA(good.string()) || win::hasTalvernSignA(bad.string())) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
