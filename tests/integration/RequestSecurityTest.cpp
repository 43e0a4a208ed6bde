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
    EXPECT_TRUE(talvern::test::eventually([&] {
        return logText().find("referer = https://evil.example, useragent = Mozilla/5.0 (X11), traceid = ") !=
               std::string::npos;
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
