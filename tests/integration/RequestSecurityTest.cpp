#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "HttpClient.h"
#include "WebAgentTest.h"

using talvern::test::HttpClient;

namespace {

using Headers = std::map<std::string, std::string>;

const char* const kRefusal = R"({"code":11119003,"message":"Invalid request."})";
const char* const kHelloPrefix = R"({"code":0,"message":"hello from a plug-in")";

// The agent of the main plug-in directory with the example plug-in, which serves "/v1/hello".
class RequestSecurity : public talvern::test::WebAgentTest {
protected:
    void SetUp() override {
        addExamplePlugin();
        // Refusals speak the display language of the configuration.
        writeShared("var/conf/localConfig.json", R"({"lang":"en-US"})");
    }
    std::optional<talvern::test::HttpReply> hello(const Headers& headers, std::uint16_t port = 0) {
        return HttpClient::once(port != 0 ? port : box.fixedPort(54630), "POST", "/v1/hello", "{}", headers);
    }
    /// The status of a hello request; 0 when no reply came.
    int helloStatus(const Headers& headers) {
        auto reply = hello(headers);
        return reply ? reply->status : 0;
    }
};

TEST_F(RequestSecurity, ForeignPageWithoutTrustedAgentIsRefusedOnBothServers) {
    startAgent();
    for (std::uint16_t port : {box.fixedPort(54630), box.fixedPort(54631)}) {
        auto reply = hello({{"Origin", "https://evil.example"}, {"User-Agent", "Mozilla/5.0 (X11)"}}, port);
        ASSERT_TRUE(reply) << port;
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 403 Forbidden");
        EXPECT_EQ(reply->body, kRefusal);
    }
    // No header at all is no better; the module never sees either request.
    EXPECT_EQ(helloStatus({}), 403);
    // The refusal names the trace id the page gave in its body.
    auto traced = HttpClient::once(port(), "POST", "/v1/hello", R"({"sdpTraceId":"0badcafe"})",
                                   {{"Origin", "https://evil.example"}});
    ASSERT_TRUE(traced);
    EXPECT_EQ(traced->status, 403);
    EXPECT_TRUE(talvern::test::eventually([&] {
        return logText().find("referer = https://evil.example, useragent = Mozilla/5.0 (X11), traceid = ") !=
                   std::string::npos &&
               logText().find("useragent = , traceid = 0badcafe)) has been forbidden") != std::string::npos;
    })) << logText();
    EXPECT_NE(
        logText().find("has been forbidden; Reason: Requests are neither trusted nor in the white list"),
        std::string::npos);
}

TEST_F(RequestSecurity, TrayUserAgentIsServed) {
    startAgent();
    auto reply = hello({{"Origin", "https://evil.example"}, {"User-Agent", "oKavelTray/1.0 (x)"}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body.rfind(kHelloPrefix, 0), 0u) << reply->body;
    // A suffix makes the SDK's name another program.
    EXPECT_EQ(helloStatus({{"User-Agent", "oKavelCSSDK/2"}}), 403);
}

TEST_F(RequestSecurity, AuthorisedOriginIsServedAndFollowsTheFile) {
    writeShared("var/conf/authorizedUrls.json", R"(["https://Portal.Example.com"])");
    startAgent();
    EXPECT_EQ(helloStatus({{"Origin", "https://portal.example.com"}}), 200);
    EXPECT_EQ(helloStatus({{"Referer", "https://portal.example.com/app/index.html"}}), 200);
    EXPECT_EQ(helloStatus({{"Origin", "https://portal.example.com:8443"}}), 403);

    // Taking the origin out of the file takes effect without a restart.
    writeShared("var/conf/authorizedUrls.json", R"(["https://someone-else.example"])");
    std::filesystem::last_write_time(box.sharedDir() / "var/conf/authorizedUrls.json",
                                     std::filesystem::file_time_type::clock::now() + std::chrono::seconds(5));
    auto later = hello({{"Origin", "https://portal.example.com"}});
    ASSERT_TRUE(later);
    EXPECT_EQ(later->status, 403);
    EXPECT_EQ(later->body, kRefusal);
}

TEST_F(RequestSecurity, WhitelistedPathsNeedNoMark) {
    startAgent();
    auto detect = HttpClient::once(box.fixedPort(54630), "POST", "/v1/detect", "{}",
                                   {{"Origin", "https://evil.example"}});
    ASSERT_TRUE(detect);
    EXPECT_EQ(detect->status, 200);
    EXPECT_EQ(detect->body, R"({"code":0,"message":"detect successfully","data":{"pubkey":""}})");
    auto port = HttpClient::once(box.fixedPort(54630), "POST", "/v1/getServicePort",
                                 R"({"data":{"serviceName":"httpserver"}})");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->status, 200);
}

}  // namespace

TEST_F(RequestSecurity, ForeignPagesGetNoWebSocketWhileTrustedClientsDo) {
    writeShared("var/conf/authorizedUrls.json", R"(["https://portal.example.com"])");
    startAgent();
    struct Case {
        Headers headers;
        int status;
    } cases[] = {
        {{{"Origin", "https://evil.example"}, {"User-Agent", "Mozilla/5.0 (X11)"}}, 403},
        {{{"Origin", "null"}}, 403},
        {{{"Origin", "https://portal.example.com"}}, 101},
        {{{"Origin", "https://evil.example"}, {"User-Agent", "oKavelTray/1.0"}}, 101},
        {{}, 101},  // a local program names no page
    };
    for (const auto& c : cases) {
        HttpClient client(port());
        auto reply = client.upgradeReply("/", c.headers);
        ASSERT_TRUE(reply) << c.status;
        EXPECT_EQ(reply->status, c.status) << reply->statusLine;
        if (c.status == 403) {
            EXPECT_EQ(reply->body, kRefusal);
            // Refused before the upgrade, and the connection ends with the answer.
            EXPECT_FALSE(client.request("POST", "/v1/detect", "{}")) << "the connection stayed open";
        }
    }
    EXPECT_TRUE(talvern::test::eventually([&] {
        return logText().find(
                   "the websocket handshake(IRequest(url = 127.0.0.1:" + std::to_string(port()) +
                   ", referer = https://evil.example, useragent = Mozilla/5.0 (X11), traceid = ") !=
               std::string::npos;
    })) << logText();
}

TEST_F(RequestSecurity, PreflightsAreGrantedToAuthorisedOriginsOnly) {
    writeShared("var/conf/authorizedUrls.json", R"(["https://portal.example.com"])");
    startAgent();
    const Headers asked{{"Access-Control-Request-Method", "POST"},
                        {"Access-Control-Request-Headers", "content-type,x-sdp-traceid"}};
    struct Case {
        const char* origin;
        bool privateNetwork;
        int status;
        bool granted;
    } cases[] = {
        {"https://portal.example.com", false, 200, true},
        {"https://portal.example.com", true, 200, true},
        {"https://evil.example", false, 403, false},
        {"https://evil.example", true, 200, false},  // the private-network answer alone grants nothing
    };
    for (const auto& c : cases) {
        Headers headers = asked;
        headers["Origin"] = c.origin;
        if (c.privateNetwork) {
            headers["Access-Control-Request-Private-Network"] = "true";
        }
        auto reply = HttpClient::once(port(), "OPTIONS", "/v1/hello", "", headers);
        ASSERT_TRUE(reply) << c.origin;
        EXPECT_EQ(reply->status, c.status) << c.origin << " " << c.privateNetwork;
        EXPECT_EQ(reply->headers.count("Access-Control-Allow-Private-Network"), c.privateNetwork ? 1u : 0u);
        EXPECT_EQ(reply->headers["Access-Control-Allow-Origin"] == c.origin, c.granted) << c.origin;
        if (c.granted) {
            EXPECT_EQ(reply->headers["Access-Control-Allow-Methods"], "POST");
            EXPECT_EQ(reply->headers["Access-Control-Allow-Headers"], "content-type, x-sdp-traceid");
            EXPECT_EQ(reply->headers["Access-Control-Max-Age"], "600");
        } else {
            EXPECT_EQ(reply->headers.count("Access-Control-Allow-Methods"), 0u);
        }
    }
    // What the grant allows: JSON from the portal page's origin.
    auto json =
        HttpClient::once(port(), "POST", "/v1/hello", R"({"addr":"https://portal.example.com"})",
                         {{"Origin", "https://portal.example.com"}, {"Content-Type", "application/json"}});
    ASSERT_TRUE(json);
    EXPECT_EQ(json->status, 200);
    EXPECT_EQ(json->headers["Access-Control-Allow-Origin"], "https://portal.example.com");
}
