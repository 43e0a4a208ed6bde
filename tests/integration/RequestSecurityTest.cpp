#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "HttpClient.h"
#include "WebAgentTest.h"

using talvern::test::Headers;
using talvern::test::HttpClient;

namespace {

const char* const kRefusal = R"({"code":11119003,"message":"Invalid request."})";
const Headers kForeignPage{{"Origin", "https://evil.example"}, {"User-Agent", "Mozilla/5.0 (X11)"}};

// The agent of the main plug-in directory with the example plug-in (which serves "/v1/hello"), trusting
// the portal's origin.
class RequestSecurity : public talvern::test::WebAgentTest {
protected:
    void SetUp() override {
        addExamplePlugin();
        // Refusals speak the display language of the configuration.
        writeShared("var/conf/localConfig.json", R"({"lang":"en-US"})");
        writeShared("var/conf/authorizedUrls.json", R"(["https://Portal.Example.com"])");
        startAgent();
    }
    talvern::test::HttpReply post(const std::string& path, const Headers& headers,
                                  const std::string& body = "{}") {
        return HttpClient::once(port(), "POST", path, body, headers);
    }
};

}  // namespace

TEST_F(RequestSecurity, OnlyTrustedCallersReachAModuleAndRefusalsAreLogged) {
    // Whitelisted paths need no mark: the unit tests of the filter and the controller's whitelist show it.
    struct Case {
        Headers headers;
        int status;
    } cases[] = {
        {kForeignPage, 403},
        {{{"Origin", "https://evil.example"}, {"User-Agent", "oKavelTray/1.0 (x)"}}, 200},
        {{{"Origin", "https://portal.example.com"}}, 200},
    };
    for (const auto& c : cases) {
        auto reply = post("/v1/hello", c.headers);
        EXPECT_EQ(reply.result_int(), c.status) << c.headers.size();
        if (c.status == 403) {
            EXPECT_EQ(reply.reason(), "Forbidden");
            EXPECT_EQ(reply.body(), kRefusal);
        }
    }
    EXPECT_EQ(HttpClient::once(box.fixedPort(54631), "POST", "/v1/hello", "{}", kForeignPage).body(),
              kRefusal);
    // The refusal names the trace id the page gave in its body.
    EXPECT_EQ(
        post("/v1/hello", {{"Origin", "https://evil.example"}}, R"({"sdpTraceId":"0badcafe"})").result_int(),
        403);
    EXPECT_TRUE(talvern::test::eventually([&] {
        return logText().find("referer = https://evil.example, useragent = Mozilla/5.0 (X11), traceid = ") !=
                   std::string::npos &&
               logText().find("useragent = , traceid = 0badcafe)) has been forbidden") != std::string::npos;
    })) << logText();
    EXPECT_NE(
        logText().find("has been forbidden; Reason: Requests are neither trusted nor in the white list"),
        std::string::npos);

    // Taking the origin out of the file takes effect without a restart.
    writeShared("var/conf/authorizedUrls.json", R"(["https://someone-else.example"])");
    std::filesystem::last_write_time(box.sharedDir() / "var/conf/authorizedUrls.json",
                                     std::filesystem::file_time_type::clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(post("/v1/hello", {{"Origin", "https://portal.example.com"}}).body(), kRefusal);
}

TEST_F(RequestSecurity, ForeignPagesGetNoWebSocketWhileTrustedClientsDo) {
    struct Case {
        Headers headers;
        int status;
    } cases[] = {
        {kForeignPage, 403},
        {{{"Origin", "null"}}, 403},
        {{{"Origin", "https://portal.example.com"}}, 101},
        {{{"Origin", "https://evil.example"}, {"User-Agent", "oKavelTray/1.0"}}, 101},
        {{}, 101},  // a local program names no page
    };
    for (const auto& c : cases) {
        HttpClient client(port());
        auto reply = client.upgrade("/", c.headers);
        EXPECT_EQ(reply.result_int(), c.status) << reply.reason();
        if (c.status == 403) {
            EXPECT_EQ(reply.body(), kRefusal);
            // Refused before the upgrade, and the connection ends with the answer.
            EXPECT_EQ(client.request("POST", "/v1/detect", "{}").result_int(), 0)
                << "the connection stayed open";
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
        SCOPED_TRACE(std::string(c.origin) + (c.privateNetwork ? " private network" : ""));
        Headers headers{{"Access-Control-Request-Method", "POST"},
                        {"Access-Control-Request-Headers", "content-type,x-sdp-traceid"},
                        {"Origin", c.origin}};
        if (c.privateNetwork) {
            headers["Access-Control-Request-Private-Network"] = "true";
        }
        auto reply = HttpClient::once(port(), "OPTIONS", "/v1/hello", "", headers);
        EXPECT_EQ(reply.result_int(), c.status);
        EXPECT_EQ(reply.count("Access-Control-Allow-Private-Network"), c.privateNetwork ? 1u : 0u);
        EXPECT_EQ(reply["Access-Control-Allow-Origin"] == c.origin, c.granted);
        EXPECT_EQ(reply["Access-Control-Allow-Methods"], c.granted ? "POST" : "");
        if (c.granted) {
            EXPECT_EQ(reply["Access-Control-Allow-Headers"], "content-type, x-sdp-traceid");
            EXPECT_EQ(reply["Access-Control-Max-Age"], "600");
        }
    }
    // What the grant allows: JSON from the portal page's origin.
    auto json =
        post("/v1/hello", {{"Origin", "https://portal.example.com"}, {"Content-Type", "application/json"}},
             R"({"addr":"https://portal.example.com"})");
    EXPECT_EQ(json.result_int(), 200);
    EXPECT_EQ(json["Access-Control-Allow-Origin"], "https://portal.example.com");
}
