#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include "AgentSandbox.h"

using namespace std::chrono_literals;
using talvern::test::AgentProcess;
using talvern::test::AgentSandbox;
using talvern::test::contains;

namespace {

// A sandbox with a master "oKavelAgent --plugin plugins" running in it.
class ConsoleHost : public ::testing::Test {
protected:
    void SetUp() override {
        box.enableDebugLog();
        master = box.start({"--plugin", "plugins"});
        ASSERT_TRUE(master->waitForOutput("No other instance is running; so I will start."))
            << master->out() << master->err();
        ASSERT_TRUE(master->waitForOutput("exec console application"));
    }
    std::string masterLog() const { return AgentSandbox::readFile(box.logDir() / "oKavelAgent_plugins.log"); }
    std::string signalLog() const { return AgentSandbox::readFile(box.logDir() / "oKavelAgentSignal.log"); }

    AgentSandbox box;
    std::unique_ptr<AgentProcess> master;
};

}  // namespace

TEST_F(ConsoleHost, SecondStartTellsTheMasterAndDetectFindsItOnlyForTheSameSwitches) {
    auto second = box.run({"--plugin", "plugins"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(contains(second.out, " Message sent ok."));
    EXPECT_TRUE(master->waitForOutput("] Master instance already running; so I will exit."));
    EXPECT_TRUE(AgentSandbox::waitForFileText(
        box.logDir() / "oKavelAgent_plugins.log",
        "recv process message:Master instance already running; so I will exit."));
    auto same = box.run({"--plugin", "plugins", "--plugin-detect"});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_TRUE(contains(same.out, "master instance already started"));
    auto other = box.run({"--plugin", "plugins", "-h", "--plugin-detect"});
    EXPECT_EQ(other.exitCode, 2);
    EXPECT_TRUE(contains(other.out, "master instance not started"));
    EXPECT_TRUE(master->running());
}

TEST_F(ConsoleHost, StopSyncStopsTheControllerOnceAndWaitsForTheExit) {
    auto stop = box.run({"--plugin", "plugins", "--plugin-stop-sync"});
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_TRUE(contains(stop.out, "stop oKavelAgent successfully"));
    EXPECT_EQ(master->wait(), 0);
    std::string log = masterLog();
    EXPECT_EQ(talvern::test::countOf(log, "sdp controller stop begin"), 1u) << log;
    EXPECT_TRUE(contains(log, "m_sdpApp->terminate begin"));
    EXPECT_TRUE(contains(log, "loop exec func end"));
    EXPECT_TRUE(contains(log, "sdpController dtor end"));
    EXPECT_EQ(box.run({"--plugin", "plugins", "--plugin-detect"}).exitCode, 2);
}

TEST_F(ConsoleHost, StopWithoutWaitingDeliversTheMessage) {
    auto stop = box.run({"--plugin", "plugins", "--plugin-stop"});
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_EQ(master->wait(), 0);
    EXPECT_EQ(box.run({"--plugin", "plugins", "--plugin-stop"}).exitCode, 254);
}

TEST_F(ConsoleHost, InterruptAndBreakAreLoggedWithAStackAndTheMasterStays) {
    master->signal(SIGINT);
    ASSERT_TRUE(master->waitForOutput("SIGINT\n")) << "running:" << master->running() << "\n"
                                                   << master->out();
    ASSERT_TRUE(AgentSandbox::waitForFileText(box.logDir() / "oKavelAgentSignal.log", "SIGINT,stack:\n"));
    master->signal(SIGQUIT);
    ASSERT_TRUE(master->waitForOutput("SIGBREAK\n"));
    ASSERT_TRUE(AgentSandbox::waitForFileText(box.logDir() / "oKavelAgentSignal.log", "SIGBREAK,stack:\n"));
    EXPECT_TRUE(contains(signalLog(), "handleSignal"));
    EXPECT_TRUE(master->running());
    EXPECT_EQ(box.run({"--plugin", "plugins", "--plugin-detect"}).exitCode, 0);
    EXPECT_FALSE(contains(masterLog(), "sdp controller stop begin"));
}

TEST_F(ConsoleHost, TerminateEndsTheMasterAtOnceWithStatusZero) {
    master->signal(SIGTERM);
    EXPECT_EQ(master->wait(), 0);
    EXPECT_TRUE(contains(signalLog(), "SIGTERM,stack:"));
    EXPECT_FALSE(contains(masterLog(), "sdp controller stop begin"));  // no orderly shut-down
}

TEST_F(ConsoleHost, AbortSignalEndsTheMasterWithMinusOne) {
    master->signal(SIGABRT);
    EXPECT_EQ(master->wait(), 255);
    EXPECT_TRUE(contains(signalLog(), "SIGABRT,then we will exit with -1, stack:"));
}

TEST(ConsoleHostFrozen, FrozenMasterIsForceKilledByStop) {
    // The force-kill matches command lines machine-wide: a name of its own keeps it off other tests' agents.
    AgentSandbox box;
    std::string plugins = "frozen-" + std::to_string(::getpid());
    auto master = box.start({"--plugin", plugins});
    ASSERT_TRUE(master->waitForOutput("exec console application")) << master->out();
    master->signal(SIGSTOP);
    auto stop = box.run({"--plugin", plugins, "--plugin-stop"});
    EXPECT_EQ(stop.exitCode, 253);
    EXPECT_TRUE(contains(stop.out, " Message sending failed; the other instance may be frozen."));
    EXPECT_EQ(master->wait(5s), -SIGKILL);
}
