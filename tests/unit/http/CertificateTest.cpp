// Certificates: validity rules, the four sources, the certificate file and the device key.

#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "http/tls/BuiltinMaterial.h"
#include "http/tls/CertSources.h"
#include "http/tls/Certificate.h"
#include "http/tls/DeviceKey.h"
#include "http/tls/TlsCrypto.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"

namespace talvern::test {
namespace {

using namespace std::chrono_literals;

/// The first certificate of `pem`.
std::unique_ptr<X509, decltype(&X509_free)> firstCertificate(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  BIO_free);
    return {PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free};
}

/// A device of its own: a machine id file and a shared data directory in a temporary directory.
class Device {
public:
    explicit Device(const std::string& machineId = "0123456789abcdef0123456789abcdef\n")
        : m_machineId(dir / "machine-id"),
          m_idEnv("OKAVEL_MACHINE_ID_FILE", m_machineId.string()),
          m_sharedEnv("OKAVEL_SHARED_DATA_DIR", (dir / "shared").string()) {
        writeFile(m_machineId, machineId);
    }
    void changeMachineId(const std::string& id) { writeFile(m_machineId, id); }
    std::filesystem::path certificateFile() const { return dir / "shared" / "var" / "conf" / "certificate"; }

    TempDir dir;

private:
    std::filesystem::path m_machineId;
    ScopedEnv m_idEnv;
    ScopedEnv m_sharedEnv;
};

/// A server certificate with its key, valid from `notBefore` to `notAfter` relative to now.
std::string serverPem(TestPki& pki, const PkiIdentity& root, std::chrono::seconds notBefore,
                      std::chrono::seconds notAfter, const std::string& stem) {
    CertOptions options;
    options.commonName = "127.0.0.1";
    options.usage = "emailProtection";
    options.notBefore = notBefore;
    options.notAfter = notAfter;
    const PkiIdentity identity = pki.issue(root, options, stem);
    return identity.certificatePem + identity.keyPem;
}

Certificate downloaded(const std::string& pem) {
    Certificate certificate(static_cast<int>(CertificateKind::Download));
    EXPECT_TRUE(certificate.init(pem));
    return certificate;
}

/// The bound of the first certificate of `pem` as seconds since the epoch.
std::time_t boundOf(const std::string& pem, bool notAfter) {
    const auto cert = firstCertificate(pem);
    std::tm tm{};
    ASN1_TIME_to_tm(notAfter ? X509_get0_notAfter(cert.get()) : X509_get0_notBefore(cert.get()), &tm);
    return timegm(&tm);
}

/// The private key in `keyFile` encrypted under a pass phrase.
std::string encryptedKey(const std::filesystem::path& keyFile) {
    const std::string out = keyFile.string() + ".encrypted";
    const std::string command =
        "openssl pkcs8 -topk8 -v2 aes-128-cbc -passout pass:phrase -in " + keyFile.string() + " -out " + out;
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readFile(out);
}

class CertificateValidity : public ::testing::Test {
protected:
    TempDir dir;
    TestPki pki{dir.path()};
    PkiIdentity root = pki.createRootCa("Validity Root");
};

TEST_F(CertificateValidity, TheOneDayBoundsToTheSecond) {
    Certificate certificate = downloaded(serverPem(pki, root, -72h, 24h * 30, "bounds"));
    const std::time_t notBefore = boundOf(certificate.text(), false);
    const std::time_t notAfter = boundOf(certificate.text(), true);
    constexpr std::time_t kDay = 86400;
    EXPECT_TRUE(certificate.isExpiredAt(notBefore + kDay - 1, false));
    EXPECT_FALSE(certificate.isExpiredAt(notBefore + kDay, false));
    EXPECT_FALSE(certificate.isExpiredAt(notAfter - kDay, false));
    EXPECT_TRUE(certificate.isExpiredAt(notAfter - kDay + 1, false));
    // The margin moves the point of view 15 days ahead.
    EXPECT_FALSE(certificate.isExpiredAt(notAfter - kDay - Certificate::kExpiryMarginSeconds, true));
    EXPECT_TRUE(certificate.isExpiredAt(notAfter - kDay - Certificate::kExpiryMarginSeconds + 1, true));
    // Now: valid, but not for the margin.
    Certificate soon = downloaded(serverPem(pki, root, -72h, 24h * 10, "soon"));
    EXPECT_FALSE(soon.isExpired(false));
    EXPECT_TRUE(soon.isExpired(true));

    Certificate::TimeDiff diff;
    ASSERT_TRUE(certificate.calculateTimeDiff(notBefore - 2 * kDay - 5, Certificate::Bound::NotBefore, diff));
    EXPECT_EQ(diff.days, 2);
    EXPECT_EQ(diff.seconds, 5);
    ASSERT_TRUE(certificate.calculateTimeDiff(notAfter + kDay + 7, Certificate::Bound::NotAfter, diff));
    EXPECT_EQ(diff.days, -1);
    EXPECT_EQ(diff.seconds, -7);
}

// ---- built into the program ---------------------------------------------------------------------

/// Whether the first certificate of `pem` holds every loopback name of the agent.
bool namesTheLoopback(const std::string& pem) {
    const auto cert = firstCertificate(pem);
    return X509_check_host(cert.get(), "local.okavel.talvern.com", 0, 0, nullptr) == 1 &&
           X509_check_host(cert.get(), "localhost", 0, 0, nullptr) == 1 &&
           X509_check_ip_asc(cert.get(), "127.0.0.1", 0) == 1;
}

// Which chain each listener serves, and that its key fits, is the web agent test's (verifying clients).
TEST(BuiltinCertificates, DecryptToFreshServerCertificatesForTheLoopbackNames) {
    Certificate self(static_cast<int>(CertificateKind::MemSelf));
    ASSERT_TRUE(self.init());
    EXPECT_TRUE(namesTheLoopback(self.text()));
    EXPECT_FALSE(self.isExpired(true));  // back-dated by days, valid for years
    EXPECT_EQ(self.text().find('\0'), std::string::npos);

    Certificate organisation(static_cast<int>(CertificateKind::MemCA));
    ASSERT_TRUE(organisation.init());
    EXPECT_TRUE(namesTheLoopback(organisation.text()));
    EXPECT_FALSE(organisation.isExpired(true));
    EXPECT_NE(self.text(), organisation.text());
}

// ---- the certificate file -----------------------------------------------------------------------

class CertificateFile : public ::testing::Test {
protected:
    void SetUp() override { pem = serverPem(pki, root, -72h, 24h * 90, "server"); }

    Device device;
    TestPki pki{device.dir.path()};
    PkiIdentity root = pki.createRootCa("File Root");
    std::string pem;
};

TEST_F(CertificateFile, APersistedDownloadReadsBackTheSameText) {
    LogCapture log;
    Certificate download(static_cast<int>(CertificateKind::Download));
    ASSERT_TRUE(download.init(pem));
    ASSERT_TRUE(download.source()->persistence());
    EXPECT_EQ(log.count("Persist the downloaded credit certificate"), 1);

    const std::string content = readFile(device.certificateFile());
    EXPECT_EQ(content.size() % 32, 0u);  // whole AES blocks, two digits a byte
    EXPECT_GT(content.size(), pem.size() * 2);
    EXPECT_EQ(content.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(
        std::filesystem::status(device.certificateFile()).permissions() & std::filesystem::perms::others_read,
        std::filesystem::perms::none);

    Certificate disk(static_cast<int>(CertificateKind::Disk));
    ASSERT_TRUE(disk.init());
    EXPECT_EQ(disk.text(), pem);
    EXPECT_FALSE(disk.isExpired(false));

    // A second download replaces the first; lower-case digits and a final line end read the same.
    const std::string other = serverPem(pki, root, -72h, 24h * 90, "other");
    ASSERT_TRUE(downloaded(other).source()->persistence());
    std::string lower = readFile(device.certificateFile());
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    writeFile(device.certificateFile(), lower + "\n");
    CertSourceFromDisk again;
    ASSERT_TRUE(again.init({}));
    EXPECT_EQ(again.text(), other);
}

TEST_F(CertificateFile, AnotherDeviceOrAGarbledFileGivesNoText) {
    LogCapture log;
    ASSERT_TRUE(downloaded(pem).source()->persistence());
    const std::string content = readFile(device.certificateFile());

    device.changeMachineId("fedcba9876543210fedcba9876543210\n");
    CertSourceFromDisk otherDevice;
    EXPECT_FALSE(otherDevice.init({}));
    EXPECT_TRUE(otherDevice.text().empty());
    device.changeMachineId("0123456789abcdef0123456789abcdef\n");

    for (const std::string& bad :
         {std::string("not hexadecimal at all"), content.substr(0, content.size() - 2), std::string(),
          std::string(64, 'F'), content.substr(0, 32) + "XY"}) {
        writeFile(device.certificateFile(), bad);
        CertSourceFromDisk disk;
        EXPECT_FALSE(disk.init({})) << bad.size();
        EXPECT_TRUE(disk.text().empty());
    }
    EXPECT_EQ(log.count("Failed to decrypt the certificate file"), 6);
}

TEST_F(CertificateFile, ADownloadNeedsACertificateWithItsKeyAndAWritablePlace) {
    LogCapture log;
    CertSourceFormDownload refused;
    const std::string locked = root.certificatePem + encryptedKey(root.key);  // never asks for a phrase
    ASSERT_NE(locked.find("ENCRYPTED PRIVATE KEY"), std::string::npos);
    for (const std::string& bad :
         {std::string(), std::string("garbage"), root.certificatePem,
          root.certificatePem + TestPki::createRsaKeyPair(2048).privatePem, locked}) {
        EXPECT_FALSE(refused.init(bad));
        EXPECT_TRUE(refused.text().empty());
    }
    EXPECT_EQ(log.count("Refuse the downloaded certificate"), 5);
    EXPECT_FALSE(refused.persistence());
    EXPECT_FALSE(std::filesystem::exists(device.certificateFile()));

    // A regular file where the directory should be.
    writeFile(device.dir / "blocked", "x");
    CertSourceFormDownload blocked((device.dir / "blocked" / "certificate").string());
    ASSERT_TRUE(blocked.init(pem));
    EXPECT_FALSE(blocked.persistence());
    EXPECT_EQ(log.count({"[error]", "Failed to write the certificate file"}), 1);
}

// ---- device key ---------------------------------------------------------------------------------

}  // namespace
}  // namespace talvern::test
