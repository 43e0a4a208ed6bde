#include "support/TestPki.h"

#include <cstdlib>
#include <stdexcept>

#include "support/TestFiles.h"

namespace talvern::test {
namespace {

std::string quoted(const std::string& text) { return " '" + text + "'"; }

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("TestPki: failed: " + command);
    }
}

}  // namespace

TestPki::TestPki(std::filesystem::path directory) : m_directory(std::move(directory)) {
    std::filesystem::create_directories(m_directory);
}

PkiIdentity TestPki::make(const CertOptions& options, const std::string& stem, const PkiIdentity* issuer) {
    const std::string subject = (options.organization.empty() ? "" : "/O=" + options.organization) +
                                (options.commonName.empty() ? "" : "/CN=" + options.commonName);
    const std::string kind = options.isCa ? "ca" : options.usage;
    run(std::string("bash ") + OKAVEL_TEST_PKI_SCRIPT + quoted(m_directory.string()) + quoted(stem) +
        quoted(subject) + " " + kind + " " + std::to_string(options.notBefore.count()) + " " +
        std::to_string(options.notAfter.count()) +
        (issuer != nullptr ? quoted(issuer->certificate.string()) + quoted(issuer->key.string()) : ""));
    PkiIdentity identity{m_directory / (stem + ".pem"), m_directory / (stem + ".key"), "", ""};
    identity.certificatePem = readFile(identity.certificate);
    identity.keyPem = readFile(identity.key);
    return identity;
}

PkiIdentity TestPki::createRootCa(const std::string& name) {
    CertOptions options;
    options.commonName = name;
    options.organization = name;
    options.isCa = true;
    options.notBefore = -std::chrono::hours(24 * 365);
    options.notAfter = std::chrono::hours(24 * 3650);
    return make(options, "root-" + std::to_string(++m_roots), nullptr);
}

PkiIdentity TestPki::issue(const PkiIdentity& issuer, const CertOptions& options, const std::string& stem) {
    return make(options, stem, &issuer);
}

std::filesystem::path TestPki::writeBundle(const std::vector<PkiIdentity>& identities,
                                           const std::string& fileName) {
    std::string text;
    for (const auto& identity : identities) {
        text += identity.certificatePem;
    }
    writeFile(m_directory / fileName, text);
    return m_directory / fileName;
}

RsaKeyPair TestPki::createRsaKeyPair(int bits) {
    TempDir dir;
    const std::string key = quoted((dir / "key").string());
    run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits) + " -out" + key +
        " 2>/dev/null && openssl pkey -in" + key + " -pubout -out" + quoted((dir / "pub").string()));
    return RsaKeyPair{readFile(dir / "key"), readFile(dir / "pub")};
}

}  // namespace talvern::test
