#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/datagram_protocol.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "AgentSandbox.h"

using talvern::test::AgentSandbox;
using talvern::test::contains;
using talvern::test::countOf;

namespace {

class ServiceHost : public ::testing::Test {
protected:
    AgentSandbox box;
    std::filesystem::path unitDir = box.root() / "units";  // the sandbox's unit directory
};

}  // namespace

TEST_F(ServiceHost, InstallWritesAnAutomaticNotifyUnitInTheDisplayLanguageAndUninstallRemovesIt) {
    // Combined short flags mean what they meant to the launch: "-iu" carries install, which comes first.
    struct Case {
        std::vector<std::string> install;
        const char* lang;
        const char* description;
    } cases[] = {
        {{"--install"},
         "en-US",
         "Error will occur while using oKavel if you disable its protection function."},
        {{"-iu"}, "zh-CN", "禁用 oKavel 的防护功能后，使用 oKavel 时将会出现错误。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang);
        std::filesystem::create_directories(box.sharedDir() / "var/conf");
        std::ofstream(box.sharedDir() / "var/conf/localConfig.json") << R"({"lang":")" << c.lang << R"("})";
        auto install = box.run(c.install);
        EXPECT_EQ(install.exitCode, 0) << install.err;
        EXPECT_TRUE(contains(install.out, "exec service application"));
        std::string unit = AgentSandbox::readFile(unitDir / "oKavelService.service");
        EXPECT_TRUE(contains(unit, std::string("\nDescription=") + c.description + "\n")) << unit;
        for (const char* line :
             {"Type=notify\n", "Restart=on-failure\n", "WatchdogSec=30s\n", "WantedBy=multi-user.target\n"}) {
            EXPECT_TRUE(contains(unit, line)) << line;
        }
        EXPECT_TRUE(contains(unit, "ExecStart=" + box.agentPath().string() + "\n"));
        EXPECT_EQ(box.run({"--uninstall"}).exitCode, 0);
        EXPECT_FALSE(std::filesystem::exists(unitDir / "oKavelService.service"));
    }
    EXPECT_TRUE(std::filesystem::exists(box.binDir() / "logs" / "oKavelService.log"));
    EXPECT_EQ(box.run({"-ut"}).exitCode, 255);  // uninstall first: nothing left to remove
}

namespace {

// The service manager's end of NOTIFY_SOCKET: collects what the service tells it.
class NotifySocket {
public:
    using Socket = boost::asio::local::datagram_protocol::socket;
    explicit NotifySocket(const std::filesystem::path& path) : m_socket(m_io, Socket::endpoint_type(path)) {
        m_socket.non_blocking(true);
    }
    /// Everything received so far, one message per line.
    const std::string& messages() {
        char buffer[512];
        boost::system::error_code ec;
        for (std::size_t n; (n = m_socket.receive(boost::asio::buffer(buffer), 0, ec)) > 0 && !ec;) {
            m_messages.append(buffer, n).append("\n");
        }
        return m_messages;
    }

private:
    boost::asio::io_context m_io;
    Socket m_socket;
    std::string m_messages;
};

}  // namespace

// --terminate stops the service with SIGTERM (below); an interrupt stops it in order too.
TEST_F(ServiceHost, TellsTheManagerReadyAliveAndStopping) {
    NotifySocket manager(box.root() / "notify");
    box.setEnv("NOTIFY_SOCKET", (box.root() / "notify").string());
    box.setEnv("WATCHDOG_USEC", "200000");
    auto service = box.start({});
    ASSERT_TRUE(talvern::test::eventually([&] { return countOf(manager.messages(), "WATCHDOG=1") >= 3; }))
        << manager.messages();
    EXPECT_EQ(manager.messages().rfind("READY=1\n", 0), 0u) << manager.messages();
    service->signal(SIGINT);
    EXPECT_EQ(service->wait(), 0);
    const std::string& told = manager.messages();
    EXPECT_EQ(countOf(told, "READY=1"), 1u);
    EXPECT_EQ(told.substr(told.size() - 11), "STOPPING=1\n") << told;
}

TEST_F(ServiceHost, RunsInTheForegroundUntilTerminated) {
    box.enableDebugLog();
    auto service = box.start({});
    ASSERT_TRUE(service->waitForOutput("exec service application"));
    auto pidFile = box.runtimeDir() / "oKavelService.pid";
    ASSERT_TRUE(talvern::test::eventually([&] { return std::filesystem::exists(pidFile); }));
    ASSERT_TRUE(AgentSandbox::waitForFileText(box.binDir() / "logs" / "oKavelService.log",
                                              "sdp controller start end"));
    EXPECT_TRUE(contains(AgentSandbox::readFile(pidFile), std::to_string(service->pid())));

    auto terminate = box.run({"--terminate"});
    EXPECT_EQ(terminate.exitCode, 0) << terminate.err;
    EXPECT_EQ(service->wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(pidFile));
    EXPECT_TRUE(contains(AgentSandbox::readFile(box.binDir() / "logs" / "oKavelService.log"),
                         "sdp controller stop end"));
    EXPECT_EQ(box.run({"--terminate"}).exitCode, 255);  // no service left to stop
}
