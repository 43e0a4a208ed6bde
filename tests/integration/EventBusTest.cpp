#include <gtest/gtest.h>

#include <thrift/TApplicationException.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "AgentSandbox.h"
#include "signcheck/FileSigner.h"
#include "support/TestPki.h"
#include "unit/rpc/RpcTestSupport.h"

using talvern::rpc::thrift::BroadcastIdentify;
using talvern::rpc::thrift::BroadcastPullEvent;
using talvern::test::AgentProcess;
using talvern::test::AgentSandbox;
using talvern::test::RpcConnection;

namespace {

const char* const kCorePipe = "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22";

// The socket file appears when the server binds it, a moment before it listens.
bool acceptsConnections(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const bool accepted = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return accepted;
}

// The core host with the bus: "--plugin plugins/oKavelCore -e", the example plug-in beside it, trusting
// a CA made for the test besides its built-in anchors.
class EventBus : public ::testing::Test {
protected:
    void SetUp() override {
        root = pki.createRootCa("Bus Test Root");
        maker = pki.issue(root, {}, "maker");
        box.setEnv("OKAVEL_TRUST_ANCHORS", pki.writeBundle({root}, "anchors.pem").string());
        auto plugin = box.binDir() / "plugins/oKavelCore/hello/hello.so";
        std::filesystem::create_directories(plugin.parent_path());
        std::filesystem::copy_file(OKAVEL_EXAMPLE_PLUGIN, plugin);
        box.enableDebugLog();
        agent = box.start({"--plugin", "plugins/oKavelCore", "-e"});
        ASSERT_TRUE(talvern::test::eventually([&] { return tcpPort() != 0 || !agent->running(); }))
            << agent->out();
        ASSERT_TRUE(agent->running()) << agent->out();
        ASSERT_TRUE(talvern::test::eventually([&] { return acceptsConnections(socketPath()); }));
    }
    void TearDown() override {
        box.run({"--plugin", "plugins/oKavelCore", "-e", "--plugin-stop-sync"});
        agent->wait();
    }
    std::uint16_t tcpPort() const {
        std::string text = AgentSandbox::readFile(box.binDir() / "var/run/plugins/oKavelCore/thrift");
        return text.empty() ? 0 : static_cast<std::uint16_t>(std::stoul(text));
    }
    std::string socketPath() const {
        return (box.runtimeDir() / (std::string(kCorePipe) + ".sock")).string();
    }

    AgentSandbox box;
    talvern::test::TempDir pkiDir;
    talvern::test::TestPki pki{pkiDir.path()};
    talvern::test::PkiIdentity root;
    talvern::test::PkiIdentity maker;
    std::unique_ptr<AgentProcess> agent;
};

}  // namespace

TEST_F(EventBus, ServedOnTheCoreSocketAndItsTcpPort) {
    EXPECT_EQ(tcpPort(), 56630);
    for (auto connection : {RpcConnection::unixSocket(socketPath()), RpcConnection::tcp(tcpPort())}) {
        auto bus = connection.bus();
        EXPECT_TRUE(bus->IsRpcStatusNormal());
        BroadcastIdentify identity;
        bus->identify(identity);
        EXPECT_FALSE(identity.channelID.empty());

        BroadcastIdentify unknown;
        BroadcastPullEvent first;
        bus->pull(first, unknown, 60000);  // answered at once with the ready event
        ASSERT_EQ(first.data.size(), 1u);
        EXPECT_EQ(first.data[0].body.topic, "statusEvent|eventbus.ready");
        EXPECT_EQ(first.identify.channelID, identity.channelID);
    }
}

TEST_F(EventBus, RepeatRulesAndDeliveryAcrossTransports) {
    auto tcp = RpcConnection::tcp(tcpPort());
    auto pipe = RpcConnection::unixSocket(socketPath());
    auto pusher = tcp.bus();
    std::vector<bool> accepted;
    for (std::int64_t id : {5, 5, 4, 6}) {
        accepted.push_back(
            pusher->push(talvern::test::makeEvent("integration-client", id, "mirnEvent|test")));
    }
    EXPECT_EQ(accepted, (std::vector<bool>{true, false, false, true}));

    // Everything from the start of the ring: the agent's own ready event, then the two accepted pushes.
    auto puller = pipe.bus();
    BroadcastIdentify identity;
    puller->identify(identity);
    BroadcastIdentify cursor;
    cursor.channelID = identity.channelID;
    cursor.eventID = 0;
    std::vector<std::string> topics;
    std::vector<std::int64_t> ids;
    ASSERT_TRUE(talvern::test::eventually([&] {
        BroadcastPullEvent pulled;
        puller->pull(pulled, cursor, 200);
        for (const auto& e : pulled.data) {
            topics.push_back(e.body.topic);
            ids.push_back(e.origin.eventID);
        }
        cursor = pulled.identify;
        return topics.size() >= 3;
    }));
    EXPECT_EQ(topics, (std::vector<std::string>{"statusEvent|ready", "mirnEvent|test", "mirnEvent|test"}));
    EXPECT_EQ(std::vector<std::int64_t>(ids.begin() + 1, ids.end()), (std::vector<std::int64_t>{5, 6}));
}

TEST_F(EventBus, CapacitiesNameTheAgentAndTheLoadedPlugin) {
    auto connection = RpcConnection::unixSocket(socketPath());
    std::string document;
    connection.capacities()->getCapacities(document);
    EXPECT_NE(document.find(R"("name":"oKavelAgent")"), std::string::npos) << document;
    EXPECT_NE(document.find(R"("dependency":[{"name":"hello","version":"1.0.0"}])"), std::string::npos)
        << document;
}

TEST_F(EventBus, UnknownServiceIsRefusedAndTheAgentServesOn) {
    auto connection = RpcConnection::tcp(tcpPort());
    talvern::rpc::thrift::SdpBroadcastClient stranger(connection.service("NoSuchService"));
    try {
        stranger.IsRpcStatusNormal();
        FAIL() << "an unknown service answered";
    } catch (const apache::thrift::TApplicationException& e) {
        EXPECT_STREQ(e.what(), "Unknown service: NoSuchService");
    }
    EXPECT_TRUE(RpcConnection::tcp(tcpPort()).bus()->IsRpcStatusNormal());
}

namespace {

// Runs okavel-bus (a copy at toolPath) with args; its exit status.
int runTool(const std::filesystem::path& toolPath, const std::string& args) {
    int status = std::system(("'" + toolPath.string() + "' " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

TEST_F(EventBus, OnlyTheSignedToolIsServedAndTheAgentServesOnAfterARefusal) {
    // The tool signed by a CA made here, which the agent trusts through OKAVEL_TRUST_ANCHORS.
    auto tool = box.root() / "okavel-bus";
    auto unsignedTool = box.root() / "okavel-bus-unsigned";
    std::filesystem::copy_file(OKAVEL_BUS_TOOL, tool);
    std::filesystem::copy_file(OKAVEL_BUS_TOOL, unsignedTool);
    talvern::signCheck::SignOptions options;
    options.certificatePath = maker.certificate.string();
    options.keyPath = maker.key.string();
    std::error_code ec;
    std::string detail;
    ASSERT_TRUE(talvern::signCheck::signFile(tool.string(), options, ec, detail)) << detail;
    ASSERT_EQ(std::system(
                  ("'" + std::string(OKAVEL_SIGN_TOOL) + "' strip '" + unsignedTool.string() + "' >/dev/null")
                      .c_str()),
              0);
    const std::string overSocket = "--socket '" + socketPath() + "'";
    const std::string overTcp = "--tcp " + std::to_string(tcpPort());

    EXPECT_EQ(runTool(tool, overSocket + " identify"), 0);
    EXPECT_EQ(runTool(tool, overTcp + " identify"), 0);
    EXPECT_EQ(runTool(unsignedTool, overSocket + " identify"), 3);
    EXPECT_EQ(runTool(unsignedTool, overTcp + " identify"), 3);
    EXPECT_EQ(runTool(tool, overTcp + " push 'mirnEvent|after' '{\"event\":\"x\"}'"), 0);

    std::string log = AgentSandbox::readFile(box.logDir() / "oKavelAgent_plugins_oKavelCore_e.log");
    EXPECT_EQ(countOf(log, "RPC will reject the service ; Reason: The process is not a talvern process"), 1u);
    EXPECT_EQ(countOf(log, "RPC will reject the service; Reason: The process is not a talvern process"), 1u);
}

TEST_F(EventBus, ManyCallsOfOneProcessCheckItsSignatureOnce) {
    auto watcher = box.root() / "watcher";
    std::filesystem::copy_file(OKAVEL_BUS_TOOL, watcher);
    // identify, then pulls until the time-out ends it: several calls from one process
    runTool("/usr/bin/timeout", "2 '" + watcher.string() + "' --tcp " + std::to_string(tcpPort()) + " watch");
    std::string log = AgentSandbox::readFile(box.logDir() / "oKavelAgent_plugins_oKavelCore_e.log");
    EXPECT_EQ(countOf(log, "process:" + watcher.string() + " connect to current server"), 1u) << log;
}
