#include <gtest/gtest.h>

#include <signal.h>
#include <filesystem>

#include "WebAgentTest.h"
#include "signcheck/FileSigner.h"
#include "support/TestPki.h"
#include "unit/rpc/RpcTestSupport.h"

using talvern::rpc::thrift::BroadcastIdentify;
using talvern::rpc::thrift::BroadcastPullEvent;
using talvern::test::AgentSandbox;
using talvern::test::contains;
using talvern::test::countOf;
using talvern::test::RpcConnection;

namespace {

const char* const kCorePipe = "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22";
const char* const kCorePortFile = "var/run/plugins/oKavelCore/thrift";

// The core host with the bus: "--plugin plugins/oKavelCore -e", the example plug-in beside it, trusting
// a CA made for the test besides its built-in anchors.
class EventBus : public talvern::test::WebAgentTest {
protected:
    void SetUp() override {
        root = pki.createRootCa("Bus Test Root");
        maker = pki.issue(root, {}, "maker");
        box.setEnv("OKAVEL_TRUST_ANCHORS", pki.writeBundle({root}, "anchors.pem").string());
        addExamplePlugin("plugins/oKavelCore");
        box.enableDebugLog();
        startAgent({"--plugin", "plugins/oKavelCore", "-e"}, kCorePortFile);
        // The socket takes its name only once it listens.
        ASSERT_TRUE(talvern::test::eventually([&] { return std::filesystem::exists(socketPath()); }));
    }
    std::uint16_t tcpPort() const { return port(kCorePortFile); }
    std::string socketPath() const {
        return (box.runtimeDir() / (std::string(kCorePipe) + ".sock")).string();
    }

    talvern::test::TempDir pkiDir;
    talvern::test::TestPki pki{pkiDir.path()};
    talvern::test::PkiIdentity root;
    talvern::test::PkiIdentity maker;
};

}  // namespace

namespace {

// Runs okavel-bus (a copy at toolPath) with args; its exit status.
int runTool(const std::filesystem::path& toolPath, const std::string& args) {
    return talvern::test::shell("'" + toolPath.string() + "' " + args);
}

}  // namespace

TEST_F(EventBus, OnlyTheSignedToolIsServedAndTheAgentServesOnAfterARefusal) {
    // The tool signed by a CA made here, which the agent trusts through OKAVEL_TRUST_ANCHORS.
    auto tool = box.root() / "okavel-bus";
    auto unsignedTool = box.root() / "okavel-bus-unsigned";
    std::filesystem::copy_file(OKAVEL_BUS_TOOL, tool);
    std::filesystem::copy_file(OKAVEL_BUS_TOOL, unsignedTool);
    ASSERT_EQ(talvern::test::signWith(tool, maker.certificate, maker.key), "");
    std::error_code ec;
    std::string detail;
    ASSERT_TRUE(talvern::signCheck::stripSignature(unsignedTool.string(), ec, detail)) << detail;
    const std::string overSocket = "--socket '" + socketPath() + "'";
    const std::string overTcp = "--tcp " + std::to_string(tcpPort());

    EXPECT_EQ(runTool(tool, overSocket + " identify"), 0);
    EXPECT_EQ(runTool(tool, overTcp + " identify"), 0);
    EXPECT_EQ(runTool(unsignedTool, overSocket + " identify"), 3);
    EXPECT_EQ(runTool(unsignedTool, overTcp + " identify"), 3);
    EXPECT_EQ(runTool(unsignedTool, overSocket + " watch"), 3);
    EXPECT_EQ(runTool(tool, overTcp + " push 'mirnEvent|after' '{\"event\":\"x\"}'"), 0);

    std::string log = AgentSandbox::readFile(box.logDir() / "oKavelAgent_plugins_oKavelCore_e.log");
    // Over the socket: the identify and the watch.
    EXPECT_EQ(countOf(log, "RPC will reject the service ; Reason: The process is not a talvern process"), 2u);
    EXPECT_EQ(countOf(log, "RPC will reject the service; Reason: The process is not a talvern process"), 1u);
}

TEST_F(EventBus, WatchFollowsTheBusAcrossARestartAndEndsWhenTheAgentStaysAway) {
    const std::vector<std::string> host{"--plugin", "plugins/oKavelCore", "-e"};
    auto watch = [&](const char* reconnectSeconds) {
        return box.startProgram(OKAVEL_BUS_TOOL,
                                {"--socket", socketPath(), "watch", "--reconnect-for", reconnectSeconds});
    };
    auto pushed = [&](const std::string& topic) {
        return RpcConnection::unixSocket(socketPath())
            .bus()
            ->push(talvern::test::makeEvent("watch", 1, topic));
    };
    auto stopAgent = [&] {
        std::vector<std::string> stop = host;
        stop.push_back("--plugin-stop-sync");
        EXPECT_EQ(box.run(stop).exitCode, 0);
        EXPECT_EQ(agent->wait(), 0);
    };
    auto follower = watch("60");
    ASSERT_TRUE(pushed("mirnEvent|beforeRestart"));
    ASSERT_TRUE(talvern::test::eventually([&] {
        return contains(follower->out(), "mirnEvent|beforeRestart");
    })) << follower->err();

    stopAgent();
    startAgent(host, kCorePortFile);
    ASSERT_TRUE(talvern::test::eventually([&] { return std::filesystem::exists(socketPath()); }));
    ASSERT_TRUE(pushed("mirnEvent|afterRestart"));
    ASSERT_TRUE(talvern::test::eventually([&] {
        return contains(follower->out(), "mirnEvent|afterRestart");
    })) << follower->err();
    EXPECT_EQ(countOf(follower->out(), "mirnEvent|beforeRestart"), 1u);
    // The new agent's own announcement came before the watch was back: it is not missed either.
    EXPECT_EQ(countOf(follower->out(), "statusEvent|ready"), 2u) << follower->out();
    EXPECT_TRUE(contains(follower->err(), "okavel-bus: the agent went away")) << follower->err();
    EXPECT_TRUE(contains(follower->err(), "okavel-bus: reconnected to " + socketPath())) << follower->err();

    // An agent that does not come back within the window ends the watch as an unreachable agent does.
    auto quitter = watch("1");
    ASSERT_TRUE(
        talvern::test::eventually([&] { return contains(quitter->out(), "mirnEvent|afterRestart"); }));
    stopAgent();
    EXPECT_EQ(quitter->wait(), 2) << quitter->err();
    EXPECT_TRUE(contains(quitter->err(), "did not come back")) << quitter->err();
    follower->signal(SIGINT);
    EXPECT_EQ(follower->wait(), 0);
}
