// TLS of the listeners (from memory and from files, and the Diffie-Hellman group they offer) and
// WebSocket upgrades, plain and over TLS.

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <boost/asio/ssl.hpp>

#include <future>

#include "http/tls/CertSources.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
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

std::vector<unsigned char> bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

/// Answers every request with "secret" over TLS and "plain secret" without.
void answer(mg_connection* c, int ev, void*) {
    if (ev == MG_EV_HTTP_REQUEST) {
        replyChunked(c, {(c->flags & MG_F_SSL) != 0 ? "secret" : "plain secret"});
    }
}

/// Binds a listener with TLS files and starts answering; the bind error, empty on success.
std::string serveFiles(EngineHarness& harness, const std::string& cert, const std::string& key) {
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

class EngineTls : public ::testing::Test, protected TestChain {
protected:
    /// Serves `pem` loaded from memory (in the chain form when `chain`); false when it is refused.
    bool serveMemory(const std::string& pem, bool chain) {
        harness.start(answer);
        std::string error;
        const bool loaded = harness.mgr.setSslFromMemory(harness.listener, bytes(pem), chain, error);
        harness.run();
        return loaded;
    }
    /// Writes a file into the temporary directory; its path.
    std::string file(const std::string& name, const std::string& text) const {
        writeFile(dir / name, text);
        return (dir / name).string();
    }

    TempDir dir;
    EngineHarness harness;
};

TEST_F(EngineTls, ServesTlsWithACertificateFromMemory) {
    ASSERT_TRUE(serveMemory(self.certPem() + self.keyPem(), false));
    EXPECT_EQ(tlsGet(harness.port, self.certPem()), "secret");

    // A plain-text client is dropped without disturbing the listener.
    Client plain(harness.port);
    plain.write(get("/tls"));
    EXPECT_TRUE(plain.closedByServer());
    EXPECT_EQ(tlsGet(harness.port, self.certPem()), "secret");
}

TEST_F(EngineTls, ChainFormFromMemorySendsTheIntermediates) {
    ASSERT_TRUE(serveMemory(leafChainPem(), true));
    EXPECT_EQ(tlsGet(harness.port, root.certPem()), "secret");
}

TEST_F(EngineTls, WithoutChainFormTheClientCannotVerify) {
    ASSERT_TRUE(serveMemory(leafChainPem(), false));
    EXPECT_NE(tlsGet(harness.port, root.certPem()).find("failed"), std::string::npos);
}

TEST_F(EngineTls, BadMaterialInMemoryIsRefused) {
    harness.start(answer);
    struct Case {
        const char* name;
        std::string pem;
        bool chain;
    };
    for (const Case& c : {Case{"empty", "", false}, Case{"no key", self.certPem(), false},
                          Case{"a key of another certificate", self.certPem() + leaf.keyPem(), false},
                          Case{"a broken chain", "-----BEGIN CERTIFICATE-----\nxx\n", true}}) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(harness.mgr.setSslFromMemory(harness.listener, bytes(c.pem), c.chain, error));
        EXPECT_EQ(error, "invalid ssl cert");
    }
}

TEST_F(EngineTls, FilesHoldTheCertificateAndKeyApartOrTogetherWithTheChainAndNoneMeansPlainHttp) {
    ASSERT_EQ(serveFiles(harness, file("cert.pem", self.certPem()), file("key.pem", self.keyPem())), "");
    EXPECT_EQ(tlsGet(harness.port, self.certPem()), "secret");
    EngineHarness together;
    ASSERT_EQ(serveFiles(together, file("all.pem", leafChainPem()), ""), "");
    EXPECT_EQ(tlsGet(together.port, root.certPem()), "secret");  // the intermediate travels with the leaf
    EngineHarness plainHarness;
    ASSERT_EQ(serveFiles(plainHarness, "", file("key.pem", self.keyPem())), "");
    Client plain(plainHarness.port);
    plain.write(get("/plain"));
    auto reply = plain.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "plain secret");
}

TEST_F(EngineTls, EachBadFileNamesWhatIsWrong) {
    const TestKeyPair other = makeCertificate("127.0.0.1", nullptr, false);
    const std::string cert = file("cert.pem", self.certPem());
    const std::string broken =
        self.certPem() + "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n";
    struct Case {
        std::string cert;
        std::string key;
        const char* error;
    };
    for (const Case& c : {
             Case{(dir / "missing.pem").string(), "", "Invalid SSL cert"},
             Case{file("garbage.pem", "garbage"), "", "Invalid SSL cert"},
             Case{cert, "", "Invalid SSL key"},  // the certificate file has no key
             Case{cert, file("other.key", other.keyPem()), "Invalid SSL key"},
             Case{file("broken.pem", broken), file("self.key", self.keyPem()), "Invalid CA bundle"},
         }) {
        EngineHarness fresh;
        EXPECT_EQ(serveFiles(fresh, c.cert, c.key), c.error) << c.cert << " " << c.key;
    }
}

TEST_F(EngineTls, DheUsesTheBuiltInGroupUnlessTheCertificateFileHasOne) {
    const std::string pem = builtinSelfSigned();
    ASSERT_TRUE(serveMemory(pem, false));
    EXPECT_EQ(dheGroupBits(harness.port), 2048);
    EngineHarness files;
    ASSERT_EQ(serveFiles(files, file("builtin.pem", pem), ""), "");
    EXPECT_EQ(dheGroupBits(files.port), 2048);
    EngineHarness own;
    ASSERT_EQ(serveFiles(own, file("with-dh.pem", pem + kFileDhParameters), ""), "");
    EXPECT_EQ(dheGroupBits(own.port), 3072);
}

/// Upgrade, frames both ways, a close from the server; `tls` runs it all over TLS.
void webSocketConversation(bool tls) {
    std::mutex mutex;
    std::vector<int> events;
    std::string handshakeUri;
    std::promise<void> closed;
    EngineHarness harness;  // declared last: its loop stops before the state above goes
    harness.start([&](mg_connection* c, int ev, void* data) {
        std::lock_guard<std::mutex> lock(mutex);
        if (ev == MG_EV_WEBSOCKET_HANDSHAKE_REQUEST || ev == MG_EV_WEBSOCKET_HANDSHAKE_DONE) {
            events.push_back(ev);
            handshakeUri = std::string(static_cast<http_message*>(data)->uri.view());
        }
        if (ev == MG_EV_WEBSOCKET_HANDSHAKE_DONE) {
            EXPECT_TRUE(c->flags & MG_F_IS_WEBSOCKET);
            c->sendWebSocketFrame(WEBSOCKET_OP_TEXT, "hello", 5);
        } else if (ev == MG_EV_WEBSOCKET_FRAME) {
            events.push_back(ev);
            auto* frame = static_cast<websocket_message*>(data);
            const std::string text(reinterpret_cast<const char*>(frame->data), frame->size);
            if (text == "bye") {
                const char payload[] = {0x03, static_cast<char>(0xe8), 'b', 'y', 'e'};
                c->sendWebSocketFrame(WEBSOCKET_OP_CLOSE, payload, sizeof(payload));
            } else {
                c->sendWebSocketFrameParts(frame->flags, {"echo:", text});
            }
        } else if (ev == MG_EV_CLOSE) {
            events.push_back(ev);
            closed.set_value();
        }
    });
    const TestKeyPair self = makeCertificate("127.0.0.1", nullptr, false);
    asio::ssl::context clientContext(asio::ssl::context::tls_client);
    if (tls) {
        std::string error;
        ASSERT_TRUE(harness.mgr.setSslFromMemory(harness.listener, bytes(self.certPem() + self.keyPem()),
                                                 false, error));
        clientContext.add_certificate_authority(asio::buffer(self.certPem()));
        clientContext.set_verify_mode(asio::ssl::verify_peer);
    }
    harness.run();

    Client client(harness.port, tls ? &clientContext : nullptr);
    client.write(upgrade("/ws?x=1"));
    auto reply = client.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 101);
    EXPECT_NE(reply->head.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="), std::string::npos);
    EXPECT_EQ(client.readFrame(), std::make_pair(WEBSOCKET_OP_TEXT, std::string("hello")));

    client.writeFrame(WEBSOCKET_OP_TEXT, "{\"seq\":0}");
    EXPECT_EQ(client.readFrame(), std::make_pair(WEBSOCKET_OP_TEXT, std::string("echo:{\"seq\":0}")));
    const std::string large(1000, 'L');
    client.writeFrame(WEBSOCKET_OP_BINARY, large);
    EXPECT_EQ(client.readFrame(), std::make_pair(WEBSOCKET_OP_BINARY, "echo:" + large));

    client.writeFrame(WEBSOCKET_OP_TEXT, "bye");
    EXPECT_EQ(client.readFrame(), std::make_pair(WEBSOCKET_OP_CLOSE, std::string("\x03\xe8") + "bye"));
    client.writeFrame(WEBSOCKET_OP_CLOSE, std::string("\x03\xe8", 2));
    EXPECT_TRUE(client.closedByServer());  // the server ends its side first, then waits for ours
    client.close();
    ASSERT_EQ(closed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(handshakeUri, "/ws");
    EXPECT_EQ(events, (std::vector<int>{MG_EV_WEBSOCKET_HANDSHAKE_REQUEST, MG_EV_WEBSOCKET_HANDSHAKE_DONE,
                                        MG_EV_WEBSOCKET_FRAME, MG_EV_WEBSOCKET_FRAME, MG_EV_WEBSOCKET_FRAME,
                                        MG_EV_CLOSE}));
}

TEST(EngineWebSocketTest, UpgradeDeliversHandshakeAndFramesBothWays) { webSocketConversation(false); }

TEST(EngineWebSocketTest, UpgradeOverTls) { webSocketConversation(true); }

TEST(EngineWebSocketTest, ASilentPeerIsPingedThenDropped) {
    EngineLimits limits;
    limits.idleTimeout = std::chrono::milliseconds(200);
    std::promise<void> closed;
    EngineHarness harness(limits);
    harness.start([&](mg_connection*, int ev, void*) {
        if (ev == MG_EV_CLOSE) {
            closed.set_value();
        }
    });
    harness.run();
    Client client(harness.port);
    client.write(upgrade("/ws"));
    auto reply = client.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 101);
    auto ping = client.readFrame();  // never answered
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->first, WEBSOCKET_OP_PING);
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(closed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST(EngineWebSocketTest, ABadFrameDuringTheClosingHandshakeStillEndsTheConnection) {
    // The server starts closing; the peer answers with invalid UTF-8 instead of its close frame.
    EngineLimits limits;
    limits.requestTimeout = std::chrono::milliseconds(200);
    std::promise<void> closed;
    EngineHarness harness(limits);
    harness.start([&](mg_connection* c, int ev, void*) {
        if (ev == MG_EV_WEBSOCKET_FRAME) {
            const char payload[] = {0x03, static_cast<char>(0xef)};
            c->sendWebSocketFrame(WEBSOCKET_OP_CLOSE, payload, sizeof(payload));
        } else if (ev == MG_EV_CLOSE) {
            closed.set_value();
        }
    });
    harness.run();
    Client client(harness.port);
    client.write(upgrade("/ws"));
    ASSERT_TRUE(client.read());
    // Both frames in one write: the bad one is read while the server's close frame is still going out.
    client.write(Client::frame(WEBSOCKET_OP_TEXT, "{\"seq\":5}") + Client::frame(WEBSOCKET_OP_TEXT, "\xff"));
    auto close = client.readFrame();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->first, WEBSOCKET_OP_CLOSE);
    EXPECT_EQ(closed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
}  // namespace talvern::test
