// TLS of a listener loaded from files, and the Diffie-Hellman group the listeners offer.

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <boost/asio/ssl.hpp>

#include <filesystem>
#include <fstream>

#include "http/tls/CertSources.h"
#include "support/TempDir.h"
#include "unit/http/EngineTestSupport.h"
#include "unit/http/TestCertificates.h"

namespace talvern::test {
namespace {

using namespace talvern::engine;
namespace asio = boost::asio;

// A published 3072-bit group (ffdhe3072), to tell a file's own group from the built-in 2048-bit one.
constexpr const char* kFileDhParameters =
    "-----BEGIN DH PARAMETERS-----\n"
    "MIIBiAKCAYEA//////////+t+FRYortKmq/cViAnPTzx2LnFg84tNpWp4TZBFGQz\n"
    "+8yTnc4kmz75fS/jY2MMddj2gbICrsRhetPfHtXV/WVhJDP1H18GbtCFY2VVPe0a\n"
    "87VXE15/V8k1mE8McODmi3fipona8+/och3xWKE2rec1MKzKT0g6eXq8CrGCsyT7\n"
    "YdEIqUuyyOP7uWrat2DX9GgdT0Kj3jlN9K5W7edjcrsZCwenyO4KbXCeAvzhzffi\n"
    "7MA0BM0oNC9hkXL+nOmFg/+OTxIy7vKBg8P+OxtMb61zO7X8vC7CIAXFjvGDfRaD\n"
    "ssbzSibBsu/6iGtCOGEfz9zeNVs7ZRkDW7w09N75nAI4YbRvydbmyQd62R0mkff3\n"
    "7lmMsPrBhtkcrv4TCYUTknC0EwyTvEN5RPT9RFLi103TZPLiHnH1S/9croKrnJ32\n"
    "nuhtK8UiNjoNq8Uhl5sN6todv5pC1cRITgq80Gv6U93vPBsg7j/VnXwl5B0rZsYu\n"
    "N///////////AgEC\n"
    "-----END DH PARAMETERS-----\n";

std::string writeFile(const TempDir& dir, const std::string& name, const std::string& text) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

void answer(mg_connection* c, int ev, void*) {
    if (ev == MG_EV_HTTP_REQUEST) {
        replyChunked(c, {"secret"});
    }
}

/// Binds a listener with TLS files; the bind error, empty on success.
std::string bindWithFiles(EngineHarness& harness, const std::string& cert, const std::string& key) {
    mg_bind_opts opts;
    opts.ssl_cert = cert.c_str();
    opts.ssl_key = key.empty() ? nullptr : key.c_str();
    try {
        harness.start(answer, opts);
    } catch (const std::exception& e) {
        const std::string what = e.what();
        return what.substr(what.find(": ") + 2);
    }
    harness.run();
    return {};
}

/// The size of the DH group of a TLS 1.2 handshake that offers only finite-field DHE suites.
int dheGroupBits(std::uint16_t port) {
    asio::ssl::context ctx(asio::ssl::context::tls_client);
    SSL_CTX_set_max_proto_version(ctx.native_handle(), TLS1_2_VERSION);
    if (SSL_CTX_set_cipher_list(ctx.native_handle(), "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384") !=
        1) {
        return -1;
    }
    try {
        Client client(port, &ctx);
        EVP_PKEY* key = nullptr;
        if (SSL_get_peer_tmp_key(client.ssl(), &key) != 1) {
            return 0;
        }
        const int bits = EVP_PKEY_is_a(key, "DH") == 1 ? EVP_PKEY_get_bits(key) : 0;
        EVP_PKEY_free(key);
        return bits;
    } catch (const std::exception&) {
        return -2;
    }
}

/// The built-in self-signed certificate (RSA, so that DHE-RSA suites apply).
std::string builtinSelfSigned() {
    CertSourceFromMemSelf source;
    source.init({});
    return source.text();
}

class EngineTlsFiles : public ::testing::Test {
protected:
    TempDir dir;
    TestKeyPair self = makeCertificate("127.0.0.1", nullptr, false);
    TestKeyPair root = makeCertificate("Files Root", nullptr, true);
    TestKeyPair intermediate = makeCertificate("Files Intermediate", &root, true);
    TestKeyPair leaf = makeCertificate("127.0.0.1", &intermediate, false);
    EngineHarness harness;
};

TEST_F(EngineTlsFiles, CertificateAndKeyInTwoFiles) {
    ASSERT_EQ(bindWithFiles(harness, writeFile(dir, "cert.pem", self.certPem()),
                            writeFile(dir, "key.pem", self.keyPem())),
              "");
    EXPECT_EQ(tlsGet(harness.port, self.certPem()), "secret");
}

TEST_F(EngineTlsFiles, OneFileHoldsTheKeyAndTheChain) {
    const auto file = writeFile(dir, "all.pem", leaf.certPem() + leaf.keyPem() + intermediate.certPem());
    ASSERT_EQ(bindWithFiles(harness, file, ""), "");
    // The intermediate travels with the leaf, so trusting the root is enough.
    EXPECT_EQ(tlsGet(harness.port, root.certPem()), "secret");
}

TEST_F(EngineTlsFiles, AnEmptyCertificatePathMeansPlainHttp) {
    ASSERT_EQ(bindWithFiles(harness, "", writeFile(dir, "key.pem", self.keyPem())), "");
    Client plain(harness.port);
    plain.write(get("/plain"));
    auto reply = plain.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "secret");
}

TEST(EngineTlsFilesFailures, EachBadFileNamesWhatIsWrong) {
    TempDir dir;
    const TestKeyPair self = makeCertificate("127.0.0.1", nullptr, false);
    const TestKeyPair other = makeCertificate("127.0.0.1", nullptr, false);
    const std::string cert = writeFile(dir, "cert.pem", self.certPem());
    struct Case {
        std::string cert;
        std::string key;
        const char* error;
    };
    const std::string broken =
        self.certPem() + "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n";
    for (const Case& c : {
             Case{(dir / "missing.pem").string(), "", "Invalid SSL cert"},
             Case{writeFile(dir, "garbage.pem", "garbage"), "", "Invalid SSL cert"},
             Case{cert, "", "Invalid SSL key"},  // the certificate file has no key
             Case{cert, writeFile(dir, "other.key", other.keyPem()), "Invalid SSL key"},
             Case{writeFile(dir, "broken.pem", broken), writeFile(dir, "self.key", self.keyPem()),
                  "Invalid CA bundle"},
         }) {
        EngineHarness harness;
        EXPECT_EQ(bindWithFiles(harness, c.cert, c.key), c.error) << c.cert << " " << c.key;
    }
}

TEST_F(EngineTlsFiles, DheUsesTheBuiltInGroupFromMemoryAndFromFilesWithoutOne) {
    const std::string pem = builtinSelfSigned();
    ASSERT_FALSE(pem.empty());
    std::string error;
    EngineHarness memory;
    memory.start(answer);
    ASSERT_TRUE(memory.mgr.setSslFromMemory(
        memory.listener, std::vector<unsigned char>(pem.begin(), pem.end()), false, error));
    memory.run();
    EXPECT_EQ(dheGroupBits(memory.port), 2048);

    ASSERT_EQ(bindWithFiles(harness, writeFile(dir, "builtin.pem", pem), ""), "");
    EXPECT_EQ(dheGroupBits(harness.port), 2048);
}

TEST_F(EngineTlsFiles, DheUsesTheGroupOfTheCertificateFile) {
    const std::string file = writeFile(dir, "with-dh.pem", builtinSelfSigned() + kFileDhParameters);
    ASSERT_EQ(bindWithFiles(harness, file, ""), "");
    EXPECT_EQ(dheGroupBits(harness.port), 3072);
}

}  // namespace
}  // namespace talvern::test
