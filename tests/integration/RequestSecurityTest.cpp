#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "AgentSandbox.h"
#include "HttpClient.h"
#include "WebAgentTest.h"
#include "support/Eventually.h"

using talvern::test::AgentProcess;
using talvern::test::AgentSandbox;
using talvern::test::HttpClient;

namespace {

namespace fs = std::filesystem;

using Headers = std::map<std::string, std::string>;

const char* const kRefusal = R"({"code":11119003,"message":"Invalid request."})";
const char* const kHelloPrefix = R"({"code":0,"message":"hello from a plug-in")";

// The agent of the main plug-in directory with the example plug-in, which serves "/v1/hello".
class RequestSecurity : public talvern::test::WebAgentTest {
protected:
    void SetUp() override {
        auto target = box.binDir() / "plugins" / "hello" / "hello.so";
        fs::create_directories(target.parent_path());
        fs::copy_file(OKAVEL_EXAMPLE_PLUGIN, target);
        // Refusals speak the display language of the configuration.
        writeShared("var/conf/localConfig.json", R"({"lang":"en-US"})");
    }
    static std::optional<talvern::test::HttpReply> hello(const Headers& headers, std::uint16_t port = 54630) {
        return HttpClient::once(port, "POST", "/v1/hello", "{}", headers);
    }
};

TEST_F(RequestSecurity, ForeignPageWithoutTrustedAgentIsRefusedOnBothServers) {
    startAgent();
    for (std::uint16_t port : {54630, 54631}) {
        auto reply = hello({{"Origin", "https://evil.example"}, {"User-Agent", "Mozilla/5.0 (X11)"}}, port);
        ASSERT_TRUE(reply) << port;
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 403 Forbidden");
        EXPECT_EQ(reply->body, kRefusal);
    }
    // No header at all is no better; the module never sees either request.
    auto bare = hello({});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->status, 403);
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
    auto sdk = hello({{"User-Agent", "oKavelCSSDK/2"}});
    ASSERT_TRUE(sdk);
    EXPECT_EQ(sdk->status, 403);
}

TEST_F(RequestSecurity, AuthorisedOriginIsServedAndFollowsTheFile) {
    writeShared("var/conf/authorizedUrls.json", R"(["https://Portal.Example.com"])");
    startAgent();
    auto origin = hello({{"Origin", "https://portal.example.com"}});
    ASSERT_TRUE(origin);
    EXPECT_EQ(origin->status, 200);
    auto referer = hello({{"Referer", "https://portal.example.com/app/index.html"}});
    ASSERT_TRUE(referer);
    EXPECT_EQ(referer->status, 200);
    auto other = hello({{"Origin", "https://portal.example.com:8443"}});
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 403);

    // Taking the origin out of the file takes effect without a restart.
    writeShared("var/conf/authorizedUrls.json", R"(["https://someone-else.example"])");
    fs::last_write_time(box.sharedDir() / "var/conf/authorizedUrls.json",
                        fs::file_time_type::clock::now() + std::chrono::seconds(5));
    auto later = hello({{"Origin", "https://portal.example.com"}});
    ASSERT_TRUE(later);
    EXPECT_EQ(later->status, 403);
    EXPECT_EQ(later->body, kRefusal);
}

TEST_F(RequestSecurity, WhitelistedPathsNeedNoMark) {
    startAgent();
    auto detect = HttpClient::once(54630, "POST", "/v1/detect", "{}", {{"Origin", "https://evil.example"}});
    ASSERT_TRUE(detect);
    EXPECT_EQ(detect->status, 200);
    EXPECT_EQ(detect->body, R"({"code":0,"message":"detect successfully","data":{"pubkey":""}})");
    auto port =
        HttpClient::once(54630, "POST", "/v1/getServicePort", R"({"data":{"serviceName":"httpserver"}})");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->status, 200);
}

}  // namespace
