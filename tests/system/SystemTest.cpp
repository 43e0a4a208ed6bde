// The installed agent as a machine runs it: the core host with its bus, a client-mode host joining that
// bus, the host of the main plug-in directory (web servers and a bus of its own) and the service, each
// host with a signed plug-in of this test's own. Events pushed with the installed okavel-bus reach every
// plug-in on their bus and the main host's web clients exactly once; afterwards nothing is left behind.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <list>

#include "HttpClient.h"
#include "integration/AgentSandbox.h"
#include "support/TestPki.h"
#include "unit/eventcenter/EventReplies.h"

namespace fs = std::filesystem;
using talvern::test::AgentProcess;
using talvern::test::AgentSandbox;
using talvern::test::countOf;
using talvern::test::eventually;
using talvern::test::HttpClient;

namespace {

const char* const kCoreSocket = "oKavelCore-fcd60898-3ef4-423f-acc9-3b28dc0e9e22.sock";
const char* const kTray = "oKavelTray/1.0";

// The installed agent's directory: $OKAVEL_SYSTEM_AGENT_DIR (CI points it into the extracted package),
// else the build installed by the "system_install" fixture.
fs::path installedAgentDir() {
    const char* dir = std::getenv("OKAVEL_SYSTEM_AGENT_DIR");
    return dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::path(OKAVEL_SYSTEM_INSTALL_DIR);
}

struct Host {
    std::string name;
    std::vector<std::string> args;
    std::unique_ptr<AgentProcess> process;
    fs::path events;
};

class InstalledAgent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(installedAgentDir() / "oKavelAgent")) << installedAgentDir();
        auto root = pki.createRootCa("System Test Root");
        auto maker = pki.issue(root, {}, "maker");
        box.setEnv("OKAVEL_TRUST_ANCHORS", pki.writeBundle({root}, "anchors.pem").string());
        for (const char* dir : {"plugins", "plugins/oKavelCore", "plugins/oKavelTunnel", "plugin-daemon"}) {
            const fs::path plugin = box.binDir() / dir / "recorder" / "recorder.so";
            fs::create_directories(plugin.parent_path());
            fs::copy_file(OKAVEL_EVENT_RECORDER, plugin);
            ASSERT_EQ(talvern::test::signWith(plugin, maker.certificate, maker.key), "");
        }
    }

    Host& start(const std::string& name, std::vector<std::string> args) {
        Host& host =
            hosts.emplace_back(Host{name, std::move(args), nullptr, box.root() / (name + ".events")});
        box.setEnv("OKAVEL_TEST_EVENT_FILE", host.events.string());
        host.process = box.start(host.args);
        return host;
    }
    static std::string eventsOf(const Host& host) { return AgentSandbox::readFile(host.events); }

    // Runs the installed okavel-bus of the sandbox; its exit status.
    int bus(const std::string& args) const {
        return talvern::test::shell("'" + (box.binDir() / "okavel-bus").string() + "' " + args);
    }

    talvern::test::TempDir pkiDir;
    talvern::test::TestPki pki{pkiDir.path()};
    AgentSandbox box{installedAgentDir()};
    std::list<Host> hosts;
};

}  // namespace

TEST_F(InstalledAgent, EventsReachEveryPluginAndWebClientOfTheirBusExactlyOnceAndNothingIsLeftBehind) {
    Host& core = start("core", {"--plugin", "plugins/oKavelCore", "-e"});
    ASSERT_TRUE(eventually([&] { return fs::exists(box.runtimeDir() / kCoreSocket); }))
        << core.process->out();
    Host& tunnel = start("tunnel", {"--plugin", "plugins/oKavelTunnel"});
    Host& main = start("main", {"--plugin", "plugins"});
    Host& service = start("service", {});
    // Joined: the tunnel host's first pull brought the core bus's greeting; the main host announced itself.
    ASSERT_TRUE(eventually([&] { return countOf(eventsOf(tunnel), "statusEvent|eventbus.ready") == 1; }))
        << eventsOf(tunnel);
    ASSERT_TRUE(eventually([&] { return countOf(eventsOf(main), "statusEvent|ready") == 1; }));
    const std::uint16_t webPort = AgentSandbox::readPort(box.binDir() / "var/run/httpserver");
    const std::uint16_t mainBusPort = AgentSandbox::readPort(box.binDir() / "var/run/plugins/thrift");
    ASSERT_NE(webPort, 0);
    ASSERT_NE(mainBusPort, 0);

    HttpClient socket(webPort);
    ASSERT_EQ(socket.upgrade("/", {{"User-Agent", kTray}}).result_int(), 101);
    ASSERT_TRUE(socket.sendText(
        R"({"mode":"request","type":"subscribe","path":"/v1/service/events","sdpTraceId":"5e5e5e5e","from":"web","data":{"fromId":0,"pid":0}})"));

    const std::string coreBus = "--socket '" + (box.runtimeDir() / kCoreSocket).string() + "'";
    const std::string mainBus = "--tcp " + std::to_string(mainBusPort);
    // Each bus gets its event and then an end mark: once the mark is in, a repeat would have been too.
    for (const auto& [target, name] : {std::pair{coreBus, "toCore"}, {mainBus, "toMain"}}) {
        for (const std::string event : {name, "end"}) {
            ASSERT_EQ(bus(target + " push 'mirnEvent|system' '{\"event\":\"" + event + "\"}'"), 0) << event;
        }
    }
    for (Host* host : {&core, &tunnel, &main}) {
        ASSERT_TRUE(eventually([&] { return countOf(eventsOf(*host), R"({"event":"end"})") == 1; }))
            << host->name << ": " << eventsOf(*host);
    }
    struct Expected {
        Host* host;
        std::size_t toCore, toMain;
    } expected[] = {{&core, 1, 0}, {&tunnel, 1, 0}, {&main, 0, 1}};
    for (const Expected& e : expected) {
        EXPECT_EQ(countOf(eventsOf(*e.host), R"({"event":"toCore"})"), e.toCore) << e.host->name;
        EXPECT_EQ(countOf(eventsOf(*e.host), R"({"event":"toMain"})"), e.toMain) << e.host->name;
    }

    // The main host's web clients: a long poll from the start and the subscribed socket.
    std::string polled;
    std::int64_t from = 1;
    for (int round = 0; round < 10 && countOf(polled, R"("event":"end")") == 0; ++round) {
        auto reply = HttpClient::once(webPort, "POST", "/v1/service/events",
                                      talvern::test::pollBody(from, 2000), {{"User-Agent", kTray}});
        from = talvern::test::parseReply(reply.body()).id;
        ASSERT_NE(from, -1) << reply.body();
        polled += reply.body();
    }
    std::string notified;
    while (countOf(notified, R"("event":"end")") == 0) {
        const std::string message = socket.readText();
        ASSERT_NE(message, "") << notified;
        notified += message;
    }
    for (const std::string& seen : {polled, notified}) {
        EXPECT_EQ(countOf(seen, R"("event":"toMain")"), 1u) << seen;
        EXPECT_EQ(countOf(seen, R"("event":"toCore")"), 0u) << seen;
    }

    // Everything stops as a user stops it.
    for (Host* host : {&tunnel, &main, &core}) {
        std::vector<std::string> stop = host->args;
        stop.push_back("--plugin-stop-sync");
        EXPECT_EQ(box.run(stop).exitCode, 0) << host->name;
        EXPECT_EQ(host->process->wait(), 0) << host->name;
    }
    EXPECT_EQ(box.run({"--terminate"}).exitCode, 0);
    EXPECT_EQ(service.process->wait(), 0);
    EXPECT_EQ(AgentSandbox::listFiles(box.runtimeDir()), std::vector<std::string>{});
    for (const auto& name : AgentSandbox::listFiles(box.sharedDir())) {
        EXPECT_EQ(name.find("lockfile"), std::string::npos) << name;
    }
}
