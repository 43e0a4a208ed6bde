#pragma once

// Certificate authorities and code-signing certificates made at test time (never committed), for the
// signature checker's tests and for integration tests that load signed plug-ins.
//
//     talvern::test::TempDir dir;
//     talvern::test::TestPki pki(dir.path());
//     auto root = pki.createRootCa("Test Root");
//     auto signer = pki.issue(root, {}, "signer");           // "Talvern Technologies Ltd", code signing
//     setenv("OKAVEL_TRUST_ANCHORS", root.certificate.c_str(), 1);

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace talvern::test {

/// A certificate and its private key, as PEM files and texts.
struct PkiIdentity {
    std::filesystem::path certificate;
    std::filesystem::path key;
    std::string certificatePem;
    std::string keyPem;
};

/// What a certificate made by TestPki says.
struct CertOptions {
    std::string commonName = "Talvern Technologies Ltd";  ///< empty: no CN
    std::string organization{};                           ///< empty: no O
    /// A leaf's extended key usage as openssl names it (codeSigning, serverAuth, ...); "none": without one.
    std::string usage = "codeSigning";
    bool isCa = false;  ///< a CA (basic constraints CA:TRUE, certificate signing)
    /// Validity relative to now.
    std::chrono::seconds notBefore = std::chrono::hours(-72);
    std::chrono::seconds notAfter = std::chrono::hours(24 * 30);
};

/// An RSA key pair as PEM texts: PKCS #8 private key and SubjectPublicKeyInfo public key.
struct RsaKeyPair {
    std::string privatePem;
    std::string publicPem;
};

/// Makes keys (P-256) and certificates with the openssl command (tests/support/test-pki.sh) in one directory.
class TestPki {
public:
    explicit TestPki(std::filesystem::path directory);

    /// A self-signed root CA named name (CN and O), valid from a year ago for ten years, so that
    /// back-dated signers and signing times fall inside it.
    PkiIdentity createRootCa(const std::string& name);

    /// A certificate issued by issuer, written as <stem>.pem and <stem>.key.
    PkiIdentity issue(const PkiIdentity& issuer, const CertOptions& options, const std::string& stem);

    /// The certificates of identities concatenated into one PEM file.
    std::filesystem::path writeBundle(const std::vector<PkiIdentity>& identities,
                                      const std::string& fileName);

    /// A new RSA key pair of the given size.
    static RsaKeyPair createRsaKeyPair(int bits = 2048);

private:
    PkiIdentity make(const CertOptions& options, const std::string& stem, const PkiIdentity* issuer);

    std::filesystem::path m_directory;
    int m_roots = 0;
};

}  // namespace talvern::test
