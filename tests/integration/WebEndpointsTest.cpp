#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "WebAgentTest.h"

using talvern::test::AgentSandbox;
using talvern::test::HttpClient;

namespace {

const char* const kDetectBody =
    R"({"type":"web","lang":"en-US","guid":"g","addr":"https://localhost","token":"t"})";
const char* const kDetectReply = R"({"code":0,"message":"detect successfully","data":{"pubkey":""}})";
const char* const kNotFound = R"({"code":0,"message":"Unsupport url"})";
// Paths outside the security whitelist are served to the client's own programs.
const talvern::test::Headers kTrayAgent{{"User-Agent", "oKavelTray/1.0"}};

// The agent of the main plug-in directory, with its two loopback web servers on their fixed ports.
using WebEndpoints = talvern::test::WebAgentTest;

std::string servicePortReply(int port) {
    return R"({"code":0,"message":"successfully","data":{"addr":"127.0.0.1","port":)" + std::to_string(port) +
           "}}";
}

}  // namespace

TEST_F(WebEndpoints, DetectAnswersWithTheExactReplyOnBothServers) {
    startAgent();
    EXPECT_EQ(AgentSandbox::readFile(box.binDir() / "var/run/httpserver"),
              std::to_string(box.fixedPort(54630)));
    EXPECT_TRUE(AgentSandbox::waitForFileText(box.root() / "hosts", "127.0.0.1\tlocal.okavel.talvern.com\n"));
    for (std::uint16_t port : {box.fixedPort(54630), box.fixedPort(54631)}) {
        auto reply = HttpClient::once(port, "POST", "/v1/detect", kDetectBody);
        EXPECT_EQ(reply.result_int(), 200) << port;
        EXPECT_EQ(reply.reason(), "OK");
        EXPECT_EQ(reply.body(), kDetectReply);
        EXPECT_EQ(reply["Content-Type"], "application/json");
        EXPECT_EQ(reply["Transfer-Encoding"], "chunked");
    }
}

TEST_F(WebEndpoints, RoutesByMethodAndNormalisedPathOnOneKeptAliveConnection) {
    startAgent();
    HttpClient client(box.fixedPort(54630));
    struct Case {
        const char* method;
        const char* path;
        const char* body;
        int status;
        const char* reply;
    } cases[] = {
        {"GET", "/v1/detect", "", 404, kNotFound},
        {"POST", "/v1/unknown", "{}", 404, kNotFound},
        // The head of GET alone: a body after it would be taken for the next reply's status line.
        {"HEAD", "/v1/detect", "", 404, ""},
        {"POST", "//v1///detect", kDetectBody, 200, kDetectReply},
    };
    for (const auto& c : cases) {
        auto reply = client.request(c.method, c.path, c.body, kTrayAgent);
        EXPECT_EQ(reply.result_int(), c.status) << c.method << " " << c.path;
        EXPECT_EQ(reply.body(), c.reply) << c.method << " " << c.path;
    }
    EXPECT_EQ(client.request("HEAD", "/v1/detect")["Transfer-Encoding"], "chunked");
    EXPECT_EQ(client.request("GET", "/v1/detect").reason(), "NotFound");
}

TEST_F(WebEndpoints, ServiceNamesThatCouldLeaveThePortDirectoryAreUnknownServices) {
    // Each refused name would reach a file holding a port: every rule is needed on its own.
    const std::string longest(64, 's');
    struct Case {
        std::string name;  // as JSON text
        std::string file;  // beside the executable
        int port;
    } cases[] = {
        {"httpserver", "", box.fixedPort(54630)},
        {"nothing", "", 0},
        {"frontdoor", "var/run/frontdoor", 4001},
        {longest, "var/run/" + longest, 4002},
        {longest + "s", "var/run/" + longest + "s", 0},
        {"../../secret", "secret", 0},
        {"sub/port", "var/run/sub/port", 0},
        {R"(a\\b)", R"(var/run/a\b)", 0},
        {"..hidden", "var/run/..hidden", 0},
        {"frontdoor\\u0000x", "", 0},  // the file system would see "frontdoor"
    };
    int text = 4000;
    for (const auto& c : cases) {
        if (!c.file.empty()) {
            std::filesystem::create_directories((box.binDir() / c.file).parent_path());
            std::ofstream(box.binDir() / c.file) << ++text;
        }
    }
    startAgent();
    for (const auto& c : cases) {
        auto reply = HttpClient::once(port(), "POST", "/v1/getServicePort",
                                      R"({"data":{"serviceName":")" + c.name + R"("}})");
        EXPECT_EQ(reply.body(), servicePortReply(c.port)) << c.name;
    }
}

TEST_F(WebEndpoints, BusyFirstPortMovesTheFirstServerElevenUp) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor squatter(io,
                                            {boost::asio::ip::address_v4::loopback(), box.fixedPort(54630)});
    startAgent();
    EXPECT_EQ(AgentSandbox::readFile(box.binDir() / "var/run/httpserver"),
              std::to_string(box.fixedPort(54641)));
    EXPECT_EQ(HttpClient::once(box.fixedPort(54641), "POST", "/v1/detect", kDetectBody).body(), kDetectReply);
}

TEST_F(WebEndpoints, AnOversizedHeadIsRefusedAndTheServerServesOn) {
    // The engine's tests feed it noise and plain text; here the agent's own limit is in place.
    startAgent();
    EXPECT_EQ(HttpClient::once(port(), "POST", "/v1/detect", "", {{"X-Filler", std::string(20 * 1024, 'a')}})
                  .result_int(),
              413);
    EXPECT_EQ(HttpClient::once(port(), "POST", "/v1/detect", kDetectBody).body(), kDetectReply);
}

// The example plug-in is signed after link by the build and the agent trusts no anchor but its compiled-in
// ones: this also shows the build's own signing chain end to end.
TEST_F(WebEndpoints, ExamplePluginAnswersItsPathThroughTheDefaultRoute) {
    addExamplePlugin();
    startAgent();
    EXPECT_EQ(HttpClient::once(port(), "POST", "/v1/hello", "{}", kTrayAgent).result_int(), 200);
    // The module has seen the agent's own "statusEvent|ready" on the bus by now.
    EXPECT_TRUE(talvern::test::eventually([&] {
        return HttpClient::once(port(), "POST", "/v1/hello", "{}", kTrayAgent).body() ==
               R"({"code":0,"message":"hello from a plug-in","data":{"events":1}})";
    }));
}

TEST_F(WebEndpoints, ListenersServeTheirCertificateChainsToVerifyingClients) {
    // The certificates' own tests pin every loopback name they carry; a name they lack is refused.
    startAgent();
    const std::string host = OKAVEL_AGENT_HOST_NAME;
    const std::vector<std::string> self{"/O=oKavel Agent/CN=" + host};
    const std::vector<std::string> organisation{"/O=oKavel Organization/CN=" + host,
                                                "/O=oKavel Organization/CN=oKavel Organization CA"};
    struct Case {
        std::uint16_t port;
        const char* anchors;
        std::string host;
        std::vector<std::string> chain;  // empty: the verifying client refuses the listener
    } cases[] = {
        {box.fixedPort(54630), OKAVEL_TLS_SELF_SIGNED, host, self},
        {box.fixedPort(54630), OKAVEL_TLS_SELF_SIGNED, "portal.example", {}},
        {box.fixedPort(54631), OKAVEL_TLS_ORG_CA, host, organisation},
        // The organisation's authority does not vouch for the self-signed listener.
        {box.fixedPort(54630), OKAVEL_TLS_ORG_CA, host, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.port) + " " + c.anchors + " " + c.host);
        HttpClient client(c.port, {c.anchors, c.host});
        ASSERT_EQ(client.connected(), !c.chain.empty()) << client.error();
        if (c.chain.empty()) {
            EXPECT_NE(client.error().find("certificate"), std::string::npos) << client.error();
            continue;
        }
        EXPECT_EQ(client.peerChain(), c.chain);
        EXPECT_EQ(client.request("POST", "/v1/detect", kDetectBody).body(), kDetectReply);
    }
}
