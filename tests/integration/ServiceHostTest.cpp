#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "AgentSandbox.h"

using talvern::test::AgentSandbox;
using talvern::test::contains;

namespace {

class ServiceHost : public ::testing::Test {
protected:
    void SetUp() override { box.setEnv("OKAVEL_SYSTEMD_UNIT_DIR", unitDir.string()); }
    AgentSandbox box;
    std::filesystem::path unitDir = box.root() / "units";
};

}  // namespace

TEST_F(ServiceHost, InstallWritesAnAutomaticNotifyUnitAndUninstallRemovesIt) {
    auto install = box.run({"--install"});
    EXPECT_EQ(install.exitCode, 0) << install.err;
    EXPECT_TRUE(contains(install.out, "exec service application"));
    std::string unit = AgentSandbox::readFile(unitDir / "oKavelService.service");
    EXPECT_TRUE(contains(unit, "Type=notify\n"));
    EXPECT_TRUE(contains(unit, "ExecStart=" + box.agentPath().string() + "\n"));
    EXPECT_TRUE(contains(unit, "WantedBy=multi-user.target\n"));
    EXPECT_TRUE(std::filesystem::exists(box.binDir() / "logs" / "oKavelService.log"));

    EXPECT_EQ(box.run({"--uninstall"}).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(unitDir / "oKavelService.service"));
    EXPECT_EQ(box.run({"-u"}).exitCode, 255);  // nothing left to remove
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

TEST_F(ServiceHost, InterruptStopsTheServiceInOrder) {
    auto service = box.start({});
    ASSERT_TRUE(talvern::test::eventually(
        [&] { return std::filesystem::exists(box.runtimeDir() / "oKavelService.pid"); }));
    service->signal(SIGINT);
    EXPECT_EQ(service->wait(), 0);
}
