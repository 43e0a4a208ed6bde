#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "HttpClient.h"
#include "WebAgentTest.h"

using talvern::test::AgentSandbox;
using talvern::test::HttpClient;
using talvern::test::LoopbackStream;

namespace {

const char* const kDetectBody =
    R"({"type":"web","lang":"en-US","guid":"g","addr":"https://localhost","token":"t"})";
const char* const kDetectReply = R"({"code":0,"message":"detect successfully","data":{"pubkey":""}})";
// Paths outside the security whitelist are served to the client's own programs.
const std::map<std::string, std::string> kTrayAgent{{"User-Agent", "oKavelTray/1.0"}};

// The agent of the main plug-in directory, with its two loopback web servers on their fixed ports.
using WebEndpoints = talvern::test::WebAgentTest;

// A client that verifies the listener's chain against anchors and its name against host.
LoopbackStream::Options verifying(const char* anchors, const std::string& host) {
    LoopbackStream::Options options;
    options.trustedCertificates = anchors;
    options.expectedHost = host;
    return options;
}

// Holds a loopback port for the life of the object.
class PortSquatter {
public:
    explicit PortSquatter(std::uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                  ::listen(m_fd, 1) == 0;
    }
    ~PortSquatter() { ::close(m_fd); }
    bool bound() const { return m_bound; }

private:
    int m_fd;
    bool m_bound = false;
};

}  // namespace

TEST_F(WebEndpoints, DetectAnswersWithTheExactReplyOnBothServers) {
    startAgent();
    EXPECT_EQ(AgentSandbox::readFile(box.binDir() / "var/run/httpserver"),
              std::to_string(box.fixedPort(54630)));
    EXPECT_TRUE(AgentSandbox::waitForFileText(box.root() / "hosts", "127.0.0.1\tlocal.okavel.talvern.com\n"));
    for (std::uint16_t port : {box.fixedPort(54630), box.fixedPort(54631)}) {
        auto reply = HttpClient::once(port, "POST", "/v1/detect", kDetectBody);
        ASSERT_TRUE(reply) << port;
        EXPECT_EQ(reply->statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(reply->body, kDetectReply);
        EXPECT_EQ(reply->headers["Content-Type"], "application/json");
        EXPECT_EQ(reply->headers["Transfer-Encoding"], "chunked");
    }
}

TEST_F(WebEndpoints, RoutesByMethodAndNormalisedPath) {
    startAgent();
    HttpClient client(box.fixedPort(54630));  // one kept-alive connection for every request
    auto get = client.request("GET", "/v1/detect");
    ASSERT_TRUE(get);
    EXPECT_EQ(get->statusLine, "HTTP/1.1 404 NotFound");
    EXPECT_EQ(get->body, R"({"code":0,"message":"Unsupport url"})");
    auto unknown = client.request("POST", "/v1/unknown", "{}", kTrayAgent);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_EQ(unknown->body, R"({"code":0,"message":"Unsupport url"})");
    auto slashes = client.request("POST", "//v1///detect", kDetectBody);
    ASSERT_TRUE(slashes);
    EXPECT_EQ(slashes->body, kDetectReply);
}

TEST_F(WebEndpoints, HeadGetsTheHeadOfGetAloneAndTheConnectionServesOn) {
    startAgent();
    HttpClient client(box.fixedPort(54630));
    auto head = client.request("HEAD", "/v1/detect");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->statusLine, "HTTP/1.1 404 NotFound");
    EXPECT_EQ(head->headers["Transfer-Encoding"], "chunked");
    EXPECT_EQ(head->body, "");
    // A body after the head would be taken for the next reply's status line.
    auto next = client.request("POST", "/v1/detect", kDetectBody);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(next->body, kDetectReply);
}

TEST_F(WebEndpoints, PrivateNetworkPreflightAndCrossOriginHeader) {
    startAgent();
    auto preflight = HttpClient::once(box.fixedPort(54630), "OPTIONS", "/v1/detect", "",
                                      {{"Access-Control-Request-Private-Network", "true"}});
    ASSERT_TRUE(preflight);
    EXPECT_EQ(preflight->status, 200);
    EXPECT_EQ(preflight->headers["Access-Control-Allow-Private-Network"], "true");
    auto detect = HttpClient::once(box.fixedPort(54630), "POST", "/v1/detect",
                                   R"({"addr":"https://portal.example\r\nhttps://other.example"})");
    ASSERT_TRUE(detect);
    EXPECT_EQ(detect->headers["Access-Control-Allow-Origin"], "https://portal.example");
}

TEST_F(WebEndpoints, ServicePortOfTheHttpServerAndOfAMissingService) {
    startAgent();
    auto http = HttpClient::once(
        box.fixedPort(54630), "POST", "/v1/getServicePort",
        R"({"type":"web","lang":"en-US","token":"t","addr":"https://localhost","guid":"g","data":{"serviceName":"httpserver"}})");
    ASSERT_TRUE(http);
    EXPECT_EQ(http->body, R"({"code":0,"message":"successfully","data":{"addr":"127.0.0.1","port":)" +
                              std::to_string(box.fixedPort(54630)) + "}}");
    auto missing = HttpClient::once(box.fixedPort(54630), "POST", "/v1/getServicePort",
                                    R"({"data":{"serviceName":"nothing"}})");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->body, R"({"code":0,"message":"successfully","data":{"addr":"127.0.0.1","port":0}})");
}

TEST_F(WebEndpoints, ServiceNamesThatCouldLeaveThePortDirectoryAreUnknownServices) {
    // Each refused name would reach a file holding a port: every rule is needed on its own.
    const std::string longest(64, 's');
    struct Case {
        std::string name;  // as JSON text
        std::string file;  // beside the executable
        int port;
    } cases[] = {
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
        ASSERT_TRUE(reply) << c.name;
        EXPECT_EQ(reply->body, R"({"code":0,"message":"successfully","data":{"addr":"127.0.0.1","port":)" +
                                   std::to_string(c.port) + "}}")
            << c.name;
    }
}

TEST_F(WebEndpoints, BusyFirstPortMovesTheFirstServerElevenUp) {
    PortSquatter squatter(box.fixedPort(54630));
    ASSERT_TRUE(squatter.bound());
    startAgent();
    EXPECT_EQ(AgentSandbox::readFile(box.binDir() / "var/run/httpserver"),
              std::to_string(box.fixedPort(54641)));
    auto reply = HttpClient::once(box.fixedPort(54641), "POST", "/v1/detect", kDetectBody);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, kDetectReply);
}

TEST_F(WebEndpoints, BadClientsLeaveTheServerServingOthers) {
    startAgent();
    {
        HttpClient garbage(box.fixedPort(54630));
        ASSERT_TRUE(garbage.connected());
        auto reply = garbage.request("NOT A", "REQUEST LINE");  // refused, or the connection is closed
        EXPECT_TRUE(!reply || reply->status == 400);
    }
    {
        HttpClient huge(box.fixedPort(54630));
        auto reply = huge.request("POST", "/v1/detect", "", {{"X-Filler", std::string(20 * 1024, 'a')}});
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 413);
    }
    {
        HttpClient leaver(box.fixedPort(54630));  // sends half a request and goes
        ASSERT_TRUE(leaver.connected());
    }
    auto reply = HttpClient::once(box.fixedPort(54630), "POST", "/v1/detect", kDetectBody);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, kDetectReply);
}

TEST_F(WebEndpoints, ExamplePluginAnswersItsPathThroughTheDefaultRoute) {
    addExamplePlugin();
    startAgent();
    auto hello = HttpClient::once(box.fixedPort(54630), "POST", "/v1/hello", "{}", kTrayAgent);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->status, 200);
    // The module has seen the agent's own "statusEvent|ready" on the bus by now.
    EXPECT_TRUE(talvern::test::eventually([&] {
        auto again = HttpClient::once(box.fixedPort(54630), "POST", "/v1/hello", "{}", kTrayAgent);
        return again && again->body == R"({"code":0,"message":"hello from a plug-in","data":{"events":1}})";
    }));
    auto unknown = HttpClient::once(box.fixedPort(54630), "POST", "/v1/unknown", "{}", kTrayAgent);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
}

TEST_F(WebEndpoints, FirstListenerServesTheSelfSignedCertificateForEveryLoopbackName) {
    startAgent();
    for (const char* host : {OKAVEL_AGENT_HOST_NAME, "localhost", "127.0.0.1"}) {
        HttpClient client(box.fixedPort(54630), verifying(OKAVEL_TLS_SELF_SIGNED, host));
        ASSERT_TRUE(client.connected()) << host << ": " << client.stream().error();
        EXPECT_EQ(client.stream().peerChain(),
                  std::vector<std::string>{std::string("CN=") + OKAVEL_AGENT_HOST_NAME + ",O=oKavel Agent"});
        auto reply = client.request("POST", "/v1/detect", kDetectBody);
        ASSERT_TRUE(reply) << host;
        EXPECT_EQ(reply->body, kDetectReply);
    }
    // Another name is refused by a verifying client.
    EXPECT_FALSE(LoopbackStream(box.fixedPort(54630), verifying(OKAVEL_TLS_SELF_SIGNED, "portal.example"))
                     .connected());
}

TEST_F(WebEndpoints, SecondListenerSendsTheOrganisationChain) {
    startAgent();
    const LoopbackStream::Options options = verifying(OKAVEL_TLS_ORG_CA, OKAVEL_AGENT_HOST_NAME);
    HttpClient client(box.fixedPort(54631), options);
    ASSERT_TRUE(client.connected()) << client.stream().error();
    const std::vector<std::string> chain = client.stream().peerChain();
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0], std::string("CN=") + OKAVEL_AGENT_HOST_NAME + ",O=oKavel Organization");
    EXPECT_EQ(chain[1], "CN=oKavel Organization CA,O=oKavel Organization");
    auto reply = client.request("POST", "/v1/detect", kDetectBody);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, kDetectReply);

    // The organisation's authority does not vouch for the self-signed listener.
    LoopbackStream first(box.fixedPort(54630), options);
    EXPECT_FALSE(first.connected());
    EXPECT_NE(first.error().find("certificate"), std::string::npos) << first.error();
}

TEST_F(WebEndpoints, PlainHttpOnATlsListenerGetsNoHttpAnswer) {
    startAgent();
    LoopbackStream::Options plainText;
    plainText.tls = false;
    plainText.readTimeout = std::chrono::milliseconds(3000);
    LoopbackStream plain(box.fixedPort(54630), plainText);
    ASSERT_TRUE(plain.connected());
    plain.write(std::string("POST /v1/detect HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2\r\n\r\n{}"));
    std::string received;
    while (plain.readSome(received)) {
    }
    EXPECT_EQ(received.find("HTTP/1.1"), std::string::npos);
    // The listener keeps serving TLS clients.
    auto reply = HttpClient::once(box.fixedPort(54630), "POST", "/v1/detect", kDetectBody);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, kDetectReply);
}
