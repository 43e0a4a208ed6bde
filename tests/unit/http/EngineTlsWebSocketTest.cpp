// TLS of the listeners (from memory and from files, and the Diffie-Hellman group they offer) and
// WebSocket peers that misbehave.

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <boost/asio/read.hpp>

#include <future>

#include "http/tls/CertSources.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "support/TestPki.h"
#include "unit/http/EngineTestSupport.h"

namespace talvern::test {
namespace {

using namespace talvern::engine;

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

class EngineTls : public ::testing::Test {
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
    /// A TLS server certificate for 127.0.0.1, or an intermediate authority; files named `stem`.
    PkiIdentity issue(const PkiIdentity& issuer, const std::string& stem, bool isCa = false) {
        CertOptions options;
        options.commonName = isCa ? stem : "127.0.0.1";
        options.usage = "serverAuth";
        options.isCa = isCa;
        return pki.issue(issuer, options, stem);
    }

    TempDir dir;
    TestPki pki{dir.path()};
    PkiIdentity root = pki.createRootCa("Test Root");
    PkiIdentity intermediate = issue(root, "intermediate", true);
    PkiIdentity leaf = issue(intermediate, "leaf");  // under the intermediate
    PkiIdentity direct = issue(root, "direct");      // right under the root
    const std::string directPem = direct.certificatePem + direct.keyPem;
    const std::string leafChainPem = leaf.certificatePem + leaf.keyPem + intermediate.certificatePem;
    EngineHarness harness;
};

TEST_F(EngineTls, MemoryCertificatesServeTlsAndOnlyTheChainFormSendsTheIntermediates) {
    for (const bool chain : {true, false}) {
        EngineHarness fresh;
        fresh.start(answer);
        std::string error;
        ASSERT_TRUE(fresh.mgr.setSslFromMemory(fresh.listener, bytes(leafChainPem), chain, error));
        fresh.run();
        EXPECT_EQ(tlsGet(fresh.port, root.certificatePem).find("failed") == std::string::npos, chain);
    }
    // A plain-text client is dropped without disturbing the listener.
    ASSERT_TRUE(serveMemory(directPem, false));
    Client plain(harness.port);
    plain.write(get("/tls"));
    EXPECT_TRUE(plain.closedByServer());
    EXPECT_EQ(tlsGet(harness.port, root.certificatePem), "secret");
}

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
    WsClient client(harness.port);
    // Read below the WebSocket layer, so that the ping is never answered.
    unsigned char ping[2] = {};
    asio::read(client.socket(), asio::buffer(ping));
    EXPECT_EQ(ping[0] & 0x0f, WEBSOCKET_OP_PING);
    beast::error_code ec;
    while (!ec) {
        client.socket().read_some(asio::buffer(ping), ec);
    }
    EXPECT_EQ(ec, asio::error::eof);
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
    WsClient client(harness.port);
    // Both frames in one write: the bad one is read while the server's close frame is still going out.
    asio::write(client.socket(), asio::buffer(maskedFrame(WEBSOCKET_OP_TEXT, "{\"seq\":5}") +
                                              maskedFrame(WEBSOCKET_OP_TEXT, "\xff")));
    EXPECT_EQ(closed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
}  // namespace talvern::test
