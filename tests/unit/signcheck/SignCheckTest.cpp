// The maker's signature check on files, through the library and through the okavel-sign tool: the two
// must agree on every file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

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
using std::chrono::days;
using talvern::test::CertOptions;
using talvern::test::PkiIdentity;
using talvern::test::readFile;
using talvern::test::writeFile;

std::string someContent(std::size_t size, unsigned seed = 7) {
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    return bytes;
}

std::wstring wide(const std::filesystem::path& path) { return sc::widenPath(path.string()); }

std::string nameOf(const sc::CertContextPtr& certificate, unsigned flags) {
    auto name = win::getCertName(certificate, flags);
    return name ? name.get() : "";
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
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "tool status " << status;
        EXPECT_EQ(library, WEXITSTATUS(status) == 0) << "library and okavel-sign verify disagree on " << path;
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
        EXPECT_TRUE(signedBytes.ends_with(sc::kSignatureMagic));
    }
}

// Who signed, under which chain, when, with which usage: each signer against its verdict.
TEST_F(SignCheckTest, OnlyTheMakersCodeSigningCertificateUnderATrustedChainIsAccepted) {
    const std::time_t now = std::time(nullptr);
    const std::time_t day = 24 * 3600;
    auto intermediate = m_pki.issue(m_root, {.commonName = "Test Issuing CA", .isCa = true}, "intermediate");
    auto expired = m_pki.issue(m_root, {.notBefore = -days(10), .notAfter = -days(2)}, "expired");
    struct Case {
        const char* what;
        bool accepted;
        CertOptions options{};
        const PkiIdentity* issuer = nullptr;  // the root
        sc::SignOptions signing{};
    };
    const Case cases[] = {
        {"maker by CN", true, {.commonName = "Talvern Technologies"}},
        {"CN wins over O", true, {.commonName = "Talvern Technologies Ltd.", .organization = "Elsewhere"}},
        {"no CN: O names", true, {.commonName = "", .organization = "Talvern Technologies Ltd"}},
        {"lower case", false, {.commonName = "talvern technologies"}},
        {"upper case", false, {.commonName = "TALVERN TECHNOLOGIES LTD"}},
        {"short prefix", false, {.commonName = "Talvern Technologie"}},
        {"leading space", false, {.commonName = " Talvern Technologies"}},
        {"O does not beat CN",
         false,
         {.commonName = "Someone Else", .organization = "Talvern Technologies Ltd"}},
        {"foreign root", false, {}, &m_foreignRoot},
        {"no code-signing usage", false, {.usage = "emailProtection"}},
        {"no extended key usage", false, {.usage = "none"}},
        {"a CA's own key", false, {.commonName = "Talvern Technologies CA", .isCa = true}},
        {"intermediate not carried", false, {}, &intermediate},
        {"intermediate carried", true, {}, &intermediate, {.chainPath = intermediate.certificate}},
        {"not valid yet",
         false,
         {.notBefore = days(1), .notAfter = days(2)},
         nullptr,
         {.signingTime = now + 30 * 3600}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto signer = m_pki.issue(c.issuer ? *c.issuer : m_root, c.options, "signer" + std::to_string(n));
        EXPECT_EQ(accepted(makeFile("s" + std::to_string(n++) + ".so", "abc", &signer, c.signing)),
                  c.accepted);
    }
    // An expired signer counts when it signed inside its validity.
    for (auto [at, verdict] : {std::pair{now - 5 * day, true}, {now - day, false}, {now - 20 * day, false}}) {
        EXPECT_EQ(accepted(makeFile("expired.so", "abc", &expired, {.signingTime = at})), verdict) << at;
    }

    auto withChain = makeFile("chain.so", "abc", &m_maker);
    auto certificate = win::GetTalvernSignedCertificateByPEFile(wide(withChain));
    ASSERT_NE(certificate, nullptr);
    EXPECT_EQ(nameOf(certificate, win::kCertNameSimpleDisplay), "Talvern Technologies Ltd");
    EXPECT_EQ(nameOf(certificate, win::kCertNameIssuerFlag), "Test Root CA");
    auto mailSigner = m_pki.issue(m_root, {.usage = "emailProtection"}, "mail");
    auto mail = makeFile("mail.so", "abc", &mailSigner);
    EXPECT_FALSE(win::checkFileTrust(wide(mail)));
    EXPECT_EQ(win::GetTalvernSignedCertificateByPEFile(wide(mail)), nullptr);
}

TEST_F(SignCheckTest, AnotherTrustedPublisherIsRefusedEvenWhenItCarriesTheMakersCertificate) {
    auto other = m_pki.issue(m_root, {.commonName = "Other Publisher Ltd"}, "other");
    auto path = makeFile("other.so", "abc", &other, {.chainPath = m_maker.certificate});
    EXPECT_TRUE(win::checkFileTrust(wide(path)));  // a valid signature of a trusted publisher...
    EXPECT_NE(win::GetTalvernSignedCertificateByPEFile(wide(path)), nullptr);
    EXPECT_FALSE(accepted(path));  // ...but not the maker's
    EXPECT_FALSE(win::hasTalvernSignWV2(wide(path)));
    EXPECT_TRUE(win::hasTalvernSignWV2(wide(makeFile("maker.so", "abc", &m_maker))));
}

TEST_F(SignCheckTest, AnyChangedByteAndAnyDamagedTrailerIsRefused) {
    const std::string content = someContent(40000);
    auto path = makeFile("plugin.so", content, &m_maker);
    const std::string original = readFile(path);
    ASSERT_TRUE(accepted(path));
    for (std::size_t offset : {std::size_t{0}, content.size() / 2, content.size() - 1, content.size() + 40,
                               original.size() - sc::kTrailerBytes - 20}) {
        std::string altered = original;
        altered[offset] = static_cast<char>(altered[offset] ^ 0x01);
        writeFile(path, altered);
        EXPECT_FALSE(accepted(path)) << "byte " << offset << " flipped";
    }
    // Damaged trailers are refused without a crash (the length rules are the trailer parser's own test);
    // bytes appended after the trailer hide the signature.
    const std::string body = original.substr(0, original.size() - sc::kTrailerBytes);
    auto withLength = [](std::uint32_t length, const std::string& before) {
        return before + sc::makeTrailer(length);
    };
    const std::string cases[] = {
        original + "x",
        original.substr(0, original.size() - sc::kTrailerBytes - 10),  // trailer cut off
        withLength(0xFFFFFFFFu, body),
        withLength(200, someContent(1000) + std::string(200, '\x30')),  // garbage DER
        withLength(10, "abc" + std::string("\x30\x08\x06\x03\x2a\x03\x04\x05\x01\x00", 10)),
        std::string(sc::kSignatureMagic),
        withLength(4, "\x30\x02\x05\x00"),
    };
    for (const auto& bytes : cases) {
        SCOPED_TRACE(&bytes - cases);
        writeFile(path, bytes);
        EXPECT_FALSE(accepted(path));
        std::error_code ec;
        EXPECT_EQ(win::getFileSign(wide(path), ec), nullptr);
        EXPECT_TRUE(ec);
    }
}

TEST_F(SignCheckTest, ASignatureOverASha1DigestIsRefused) {
    const auto content = m_dir.path() / "content";
    const auto der = m_dir.path() / "sha1.der";
    writeFile(content, someContent(500));
    const std::string command = "openssl cms -sign -binary -md sha1 -in " + content.string() + " -signer " +
                                m_maker.certificate.string() + " -inkey " + m_maker.key.string() +
                                " -outform DER -out " + der.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string signature = readFile(der);
    const auto path = m_dir.path() / "sha1.so";
    writeFile(path,
              readFile(content) + signature + sc::makeTrailer(static_cast<std::uint32_t>(signature.size())));
    EXPECT_FALSE(accepted(path));
}

TEST_F(SignCheckTest,
       ResigningReplacesTheSignatureStrippingRestoresTheContentPermissionsStayAndAWrongKeyChangesNothing) {
    const std::string content = someContent(20000);
    auto foreign = m_pki.issue(m_foreignRoot, CertOptions{}, "foreign");
    auto path = makeFile("plugin.so", content, &foreign);
    std::filesystem::permissions(path, std::filesystem::perms(0750));
    EXPECT_FALSE(accepted(path));
    sign(path, m_maker);
    EXPECT_TRUE(accepted(path));
    sign(path, m_maker);
    // One signature, not two stacked: the signed content is the original content alone.
    std::error_code ec;
    auto source = sc::FileByteSource::open(path.string(), ec);
    ASSERT_NE(source, nullptr);
    sc::TrailerLocation location;
    ASSERT_TRUE(sc::locateTrailer(*source, location, ec));
    EXPECT_EQ(location.contentLength, content.size());

    std::string detail;
    ASSERT_TRUE(sc::stripSignature(path, ec, detail)) << detail;
    EXPECT_EQ(readFile(path), content);
    EXPECT_FALSE(accepted(path));
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0750));

    const std::string before = readFile(path);
    EXPECT_FALSE(
        sc::signFile(path, {.certificatePath = m_maker.certificate, .keyPath = m_root.key}, ec, detail));
    EXPECT_EQ(ec, sc::sign_errc::bad_key);
    EXPECT_EQ(readFile(path), before);
}

TEST_F(SignCheckTest, PathsThatAreNotUtf8AreCheckedByTheirBytes) {
    auto path = makeFile("pl\xff\xfeugin-\xc3\xa9.so", "abc", &m_maker);
    EXPECT_TRUE(accepted(path));
    EXPECT_TRUE(win::hasTalvernSignWithUTF8(path.string()));
    for (const std::string s : {"", "\xc3\xa9t\xc3\xa9", "\xf0\x9f\x98\x80", "\xff", "\xc0\xaf",
                                "\xed\xa0\x80", "\xe2\x82", "a\x80"}) {
        EXPECT_EQ(sc::narrowPath(sc::widenPath(s)), s);
    }
    EXPECT_EQ(sc::widenPath("\xc3\xa9"), std::wstring(1, L'\u00e9'));
    EXPECT_EQ(sc::widenPath("\xc0\xaf").size(), 2u);  // an overlong slash stays bytes
}

TEST_F(SignCheckTest, ConcurrentChecksAgree) {
    auto good = makeFile("good.so", someContent(50000), &m_maker).string();
    auto bad = makeFile("bad.so", someContent(50000), nullptr).string();
    std::vector<std::future<bool>> checks;
    for (int t = 0; t < 4; ++t) {
        checks.push_back(std::async(std::launch::async, [&] {
            bool right = true;
            for (int i = 0; i < 10; ++i) {
                right = right && win::hasTalvernSignA(good) && !win::hasTalvernSignA(bad);
            }
            return right;
        }));
    }
    for (auto& check : checks) {
        EXPECT_TRUE(check.get());
    }
}

}  // namespace
