#pragma once

// Certificates made at test time (nothing secret is committed): a root, an intermediate and a leaf
// for 127.0.0.1, as PEM texts.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace talvern::test {

struct TestKeyPair {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> cert;
    std::string certPem() const {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
        PEM_write_bio_X509(bio.get(), cert.get());
        return read(bio.get());
    }
    std::string keyPem() const {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        return read(bio.get());
    }

private:
    static std::string read(BIO* bio) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        return std::string(data, static_cast<std::size_t>(size));
    }
};

/// A certificate named `commonName`, signed by `issuer` (self-signed when null).
inline TestKeyPair makeCertificate(const std::string& commonName, const TestKeyPair* issuer, bool isCa) {
    TestKeyPair pair;
    pair.key.reset(EVP_EC_gen("P-256"), EVP_PKEY_free);
    pair.cert.reset(X509_new(), X509_free);
    X509* cert = pair.cert.get();
    X509_set_version(cert, 2);
    static long serial = 1;
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24);
    X509_set_pubkey(cert, pair.key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer->cert.get()) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer != nullptr ? issuer->cert.get() : cert, cert, nullptr, nullptr, 0);
    auto add = [&](int nid, const char* value) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    };
    add(NID_basic_constraints, isCa ? "critical,CA:TRUE" : "CA:FALSE");
    if (isCa) {
        add(NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add(NID_subject_alt_name, "IP:127.0.0.1");
    }
    X509_sign(cert, issuer != nullptr ? issuer->key.get() : pair.key.get(), EVP_sha256());
    return pair;
}

/// A root, an intermediate and a leaf under them, and a self-signed certificate, all for 127.0.0.1.
struct TestChain {
    TestKeyPair root = makeCertificate("Test Root", nullptr, true);
    TestKeyPair intermediate = makeCertificate("Test Intermediate", &root, true);
    TestKeyPair leaf = makeCertificate("127.0.0.1", &intermediate, false);
    TestKeyPair self = makeCertificate("127.0.0.1", nullptr, false);

    /// The leaf, its key and the intermediate, in the order of a chain file.
    std::string leafChainPem() const { return leaf.certPem() + leaf.keyPem() + intermediate.certPem(); }
};

}  // namespace talvern::test
