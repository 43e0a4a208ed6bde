#include <gtest/gtest.h>

#include <boost/asio/ssl.hpp>

#include <future>

#include "unit/http/EngineTestSupport.h"
#include "unit/http/TestCertificates.h"

namespace talvern::test {
namespace {

using namespace talvern::engine;
namespace asio = boost::asio;

std::vector<unsigned char> bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

class EngineTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        harness.start([](mg_connection* c, int ev, void*) {
            if (ev == MG_EV_HTTP_REQUEST) {
                EXPECT_TRUE(c->flags & MG_F_SSL);
                replyChunked(c, {"secret"});
            }
        });
    }
    EngineHarness harness;
    TestKeyPair root = makeCertificate("Test Root", nullptr, true);
    TestKeyPair intermediate = makeCertificate("Test Intermediate", &root, true);
    TestKeyPair leaf = makeCertificate("127.0.0.1", &intermediate, false);
    TestKeyPair self = makeCertificate("127.0.0.1", nullptr, false);
};

TEST_F(EngineTlsTest, ServesTlsWithACertificateFromMemory) {
    std::string error;
    ASSERT_TRUE(
        harness.mgr.setSslFromMemory(harness.listener, bytes(self.certPem() + self.keyPem()), false, error));
    harness.run();
    EXPECT_EQ(tlsGet(harness.port, self.certPem()), "secret");

    // A plain-text client is dropped without disturbing the listener.
    Client plain(harness.port);
    plain.write(get("/tls"));
    EXPECT_TRUE(plain.closedByServer());
    EXPECT_EQ(tlsGet(harness.port, self.certPem()), "secret");
}

TEST_F(EngineTlsTest, ChainFormSendsTheIntermediates) {
    const std::string pem = leaf.certPem() + leaf.keyPem() + intermediate.certPem();
    std::string error;
    ASSERT_TRUE(harness.mgr.setSslFromMemory(harness.listener, bytes(pem), true, error));
    harness.run();
    EXPECT_EQ(tlsGet(harness.port, root.certPem()), "secret");
}

TEST_F(EngineTlsTest, WithoutChainFormTheClientCannotVerify) {
    const std::string pem = leaf.certPem() + leaf.keyPem() + intermediate.certPem();
    std::string error;
    ASSERT_TRUE(harness.mgr.setSslFromMemory(harness.listener, bytes(pem), false, error));
    harness.run();
    EXPECT_NE(tlsGet(harness.port, root.certPem()).find("failed"), std::string::npos);
}

TEST_F(EngineTlsTest, BadMaterialIsRefused) {
    std::string error;
    EXPECT_FALSE(harness.mgr.setSslFromMemory(harness.listener, {}, false, error));
    EXPECT_EQ(error, "invalid ssl cert");
    error.clear();
    EXPECT_FALSE(
        harness.mgr.setSslFromMemory(harness.listener, bytes(self.certPem()), false, error));  // no key
    EXPECT_EQ(error, "invalid ssl cert");
    error.clear();
    EXPECT_FALSE(  // a key that does not belong to the certificate
        harness.mgr.setSslFromMemory(harness.listener, bytes(self.certPem() + leaf.keyPem()), false, error));
    EXPECT_EQ(error, "invalid ssl cert");
    EXPECT_FALSE(harness.mgr.setSslFromMemory(harness.listener, bytes("-----BEGIN CERTIFICATE-----\nxx\n"),
                                              true, error));
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
    TestKeyPair self = makeCertificate("127.0.0.1", nullptr, false);
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
    client.write(
        "GET /ws?x=1 HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
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
    client.write(
        "GET /ws HTTP/1.1\r\nHost: h\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    auto reply = client.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 101);
    auto ping = client.readFrame();  // never answered
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->first, WEBSOCKET_OP_PING);
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(closed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
}  // namespace talvern::test
