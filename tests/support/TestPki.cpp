#include "support/TestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <memory>
#include <stdexcept>

#include "signcheck/OpenSsl.h"

namespace talvern::test {
namespace {

// The owning handles of the signature checker.
using KeyPtr = signCheck::EvpPkeyPtr;
using CertPtr = signCheck::X509Ptr;
using BioPtr = signCheck::BioPtr;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("TestPki: " + what); }

std::string bioText(BIO* bio) {
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    return std::string(memory->data, memory->length);
}

std::string certificatePem(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    return bioText(bio.get());
}

std::string privateKeyPem(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    return bioText(bio.get());
}

CertPtr readCertificate(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    CertPtr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) {
        fail("unreadable certificate");
    }
    return cert;
}

KeyPtr readKey(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        fail("unreadable key");
    }
    return key;
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        fail("cannot write " + path.string());
    }
}

void addName(X509_NAME* name, const char* field, const std::string& value) {
    if (!value.empty() &&
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0) != 1) {
        fail(std::string("cannot set ") + field);
    }
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (extension == nullptr || X509_add_ext(cert, extension, -1) != 1) {
        fail("cannot add extension " + value);
    }
    X509_EXTENSION_free(extension);
}

// A certificate for key, signed by issuerKey; a self-signed one when issuerCert is null.
CertPtr makeCertificate(EVP_PKEY* key, X509* issuerCert, EVP_PKEY* issuerKey, const CertOptions& options,
                        long serial) {
    CertPtr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), static_cast<long>(options.notBefore.count()));
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(options.notAfter.count()));
    X509_set_pubkey(cert.get(), key);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    addName(subject, "O", options.organization);
    addName(subject, "CN", options.commonName);
    X509_set_issuer_name(cert.get(), issuerCert != nullptr ? X509_get_subject_name(issuerCert) : subject);

    X509* issuer = issuerCert != nullptr ? issuerCert : cert.get();
    addExtension(cert.get(), issuer, NID_subject_key_identifier, "hash");
    addExtension(cert.get(), issuer, NID_authority_key_identifier, "keyid");
    if (options.isCa) {
        addExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), issuer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), issuer, NID_ext_key_usage,
                     options.codeSigning  ? "codeSigning"
                     : options.serverAuth ? "serverAuth"
                                          : "emailProtection");
    }
    if (X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0) {
        fail("cannot sign certificate");
    }
    return cert;
}

KeyPtr newEcKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        fail("cannot make a key");
    }
    return key;
}

// The certificate and key as texts and as the files <stem>.pem and <stem>.key.
PkiIdentity writeIdentity(const std::filesystem::path& stem, X509* cert, EVP_PKEY* key) {
    PkiIdentity identity{stem.string() + ".pem", stem.string() + ".key", certificatePem(cert),
                         privateKeyPem(key)};
    writeFile(identity.certificate, identity.certificatePem);
    writeFile(identity.key, identity.keyPem);
    return identity;
}

}  // namespace

TestPki::TestPki(std::filesystem::path directory) : m_directory(std::move(directory)) {
    std::filesystem::create_directories(m_directory);
}

PkiIdentity TestPki::createRootCa(const std::string& name) {
    CertOptions options;
    options.commonName = name;
    options.organization = name;
    options.isCa = true;
    options.notBefore = -std::chrono::hours(24 * 365);
    options.notAfter = std::chrono::hours(24 * 3650);
    KeyPtr key = newEcKey();
    CertPtr cert = makeCertificate(key.get(), nullptr, key.get(), options, m_serial++);
    return writeIdentity(m_directory / ("root-" + std::to_string(m_serial)), cert.get(), key.get());
}

PkiIdentity TestPki::issue(const PkiIdentity& issuer, const CertOptions& options, const std::string& stem) {
    CertPtr issuerCert = readCertificate(issuer.certificatePem);
    KeyPtr issuerKey = readKey(issuer.keyPem);
    KeyPtr key = newEcKey();
    CertPtr cert = makeCertificate(key.get(), issuerCert.get(), issuerKey.get(), options, m_serial++);
    return writeIdentity(m_directory / stem, cert.get(), key.get());
}

std::filesystem::path TestPki::writeBundle(const std::vector<PkiIdentity>& identities,
                                           const std::string& fileName) {
    std::string text;
    for (const auto& identity : identities) {
        text += identity.certificatePem;
    }
    auto path = m_directory / fileName;
    writeFile(path, text);
    return path;
}

RsaKeyPair TestPki::createRsaKeyPair(int bits) {
    KeyPtr key(EVP_RSA_gen(static_cast<unsigned int>(bits)));
    if (!key) {
        fail("cannot make an RSA key");
    }
    RsaKeyPair pair;
    pair.privatePem = privateKeyPem(key.get());
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PUBKEY(bio.get(), key.get());
    pair.publicPem = bioText(bio.get());
    return pair;
}

}  // namespace talvern::test
