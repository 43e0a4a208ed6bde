#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/SdpAppCmdHelper.h"
#include "app/SdpParamAdaptor.h"
#include "app/cmdline/CmdlineParser.h"
#include "support/Args.h"

using talvern::test::Args;

namespace {

struct Parsed {
    bool ok;
    std::string out;
    std::string err;
};

Parsed parse(cmdline::parser& p, Args& args) {
    std::ostringstream out;
    std::ostringstream err;
    bool ok = talvern::initCmdline(p, args.argc(), args.argv(), out, err);
    return {ok, out.str(), err.str()};
}

}  // namespace

TEST(InitCmdline, HelpPrintsUsageOnStandardOutput) {
    cmdline::parser p;
    Args args({"/opt/x/oKavelAgent", "--help"});
    Parsed r = parse(p, args);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out.rfind("usage: oKavelAgent [options] ... \noptions:\n", 0), 0u);
    EXPECT_TRUE(r.err.empty());
}

TEST(InitCmdline, UsageListsOptionsInTableOrder) {
    cmdline::parser p;
    Args args({"oKavelAgent", "-?"});
    std::string usage = parse(p, args).out;
    const char* order[] = {"--install",      "--uninstall",     "--terminate",
                           "--fork",         "--monitor-files", "--plugin ",
                           "--plugin-cmd",   "--enable-http",   "--enable-event-center",
                           "--plugin-stop ", "--plugin-detect", "--plugin-stop-sync",
                           "--help"};
    std::size_t last = 0;
    for (const char* name : order) {
        std::size_t at = usage.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_GT(at, last) << name;
        last = at;
    }
    EXPECT_NE(usage.find("enable http,if you do not use this value we will not crate http"),
              std::string::npos);
}

TEST(InitCmdline, UnknownOptionPrintsFailureUsageAndErrorOnStandardError) {
    cmdline::parser p;
    Args args({"oKavelAgent", "--bogus"});
    Parsed r = parse(p, args);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err.rfind("parse cmd param fail\nusage: oKavelAgent", 0), 0u);
    EXPECT_NE(r.err.find("\nundefined option: --bogus\n"), std::string::npos);
}

TEST(InitCmdline, PluginDirectoryEscapeIsRefused) {
    for (std::string bad : {"../x", "a/../b", "a\\..\\b", "..", "x/.."}) {
        cmdline::parser p;
        Args args({"oKavelAgent", "--plugin", bad});
        Parsed r = parse(p, args);
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_EQ(r.out, "Path '" + bad + "' has the risk of crossing\n");
    }
    for (std::string good : {"a..b", "plugins/x", "...", ".hidden/..x"}) {
        cmdline::parser p;
        Args args({"oKavelAgent", "--plugin", good});
        EXPECT_TRUE(parse(p, args).ok) << good;
    }
}

TEST(LaunchNames, LogFileNameCarriesPluginValueAndEveryFlagLetter) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"oKavelAgent"}, "oKavelService.log"},
        {{"oKavelAgent", "--plugin", "plugins/x", "--enable-http", "--plugin-stop"},
         "oKavelAgent_plugins_x_h_k.log"},
        {{"oKavelAgent", "-p", "\"plugins/oKavelCore\"", "-w", "-e", "-d"},
         "oKavelAgent_plugins_oKavelCore_e_d_w.log"},
        {{"oKavelAgent", "--install"}, "oKavelService.log"},
    };
    for (auto& c : cases) {
        cmdline::parser p;
        Args args(c.args);
        ASSERT_TRUE(parse(p, args).ok);
        EXPECT_EQ(talvern::logFileName(p), c.expected);
    }
}

TEST(LaunchNames, ConsoleAppIdSkipsQueryAndStopFlags) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"/opt/oKavel/oKavelAgent", "--plugin", "plugins/x", "-h", "--plugin-stop"},
         "oKavelAgent_plugins_x_h"},
        {{"oKavelAgent.bin", "--plugin", "plugins/x", "-e", "-h", "-d", "-w"}, "oKavelAgent_plugins_x_h_e"},
        {{"oKavelAgent", "--plugin", "\"a/b\"/c"}, "oKavelAgent_a_b_c"},
        {{"./oKavelAgent", "--enable-http"}, "oKavelAgent_h"},
    };
    for (auto& c : cases) {
        cmdline::parser p;
        Args args(c.args);
        ASSERT_TRUE(parse(p, args).ok);
        EXPECT_EQ(talvern::getConsoleAppId(p, args.argc(), args.argv()), c.expected);
    }
}

TEST(LaunchNames, ServiceModeWithoutArgumentsOrWithAServiceOption) {
    auto isService = [](std::vector<std::string> words) {
        cmdline::parser p;
        Args args(std::move(words));
        EXPECT_TRUE(parse(p, args).ok);
        return talvern::isServiceApplication(p, args.argc(), args.argv());
    };
    EXPECT_TRUE(isService({"oKavelAgent"}));
    EXPECT_TRUE(isService({"oKavelAgent", "--install", "--plugin", "x"}));
    EXPECT_TRUE(isService({"oKavelAgent", "-t"}));
    EXPECT_FALSE(isService({"oKavelAgent", "--plugin", "plugins"}));
    EXPECT_FALSE(isService({"oKavelAgent", "-h"}));
}

class ParamAdaptorTest : public ::testing::Test {
protected:
    talvern::sdp::SdpOption trans(std::vector<std::string> words) {
        auto p = std::make_shared<cmdline::parser>();
        Args args(std::move(words));
        EXPECT_TRUE(parse(*p, args).ok);
        talvern::sdp::SdpParamAdaptor adaptor(p);
        EXPECT_TRUE(adaptor.parseParam());
        return adaptor;
    }
    std::string cwd = std::filesystem::current_path().string();
};

TEST_F(ParamAdaptorTest, PluginsTurnsOnHttpAndBus) {
    auto o = trans({"oKavelAgent", "--plugin", "plugins"});
    EXPECT_EQ(o.pluginPath, "plugins");
    EXPECT_EQ(o.pluginDir, (std::filesystem::path(cwd) / "plugins").string());
    EXPECT_TRUE(o.enableHttp);
    EXPECT_TRUE(o.enableEventBus);
    EXPECT_TRUE(o.enableEventClient);
}

TEST_F(ParamAdaptorTest, OtherPluginDirectoryKeepsItsSwitches) {
    auto o =
        trans({"oKavelAgent", "--plugin", "plugins/oKavelCore", "-e", "--plugin-cmd", "go", "-n", "a;b"});
    EXPECT_EQ(o.pluginPath, "plugins/oKavelCore");
    EXPECT_FALSE(o.enableHttp);
    EXPECT_TRUE(o.enableEventBus);
    EXPECT_TRUE(o.enableEventClient);
    EXPECT_EQ(o.pluginCmd, "go");
    EXPECT_EQ(o.monitorFiles, "a;b");
}

TEST_F(ParamAdaptorTest, DaemonAndNoPluginBothBecomePluginDaemon) {
    for (auto words : std::vector<std::vector<std::string>>{{"oKavelAgent", "--plugin", "plugin-daemon"},
                                                            {"oKavelAgent", "--plugin", "x/plugin-daemon/y"},
                                                            {"oKavelAgent", "-h"}}) {
        auto o = trans(words);
        EXPECT_EQ(o.pluginPath, "plugin-daemon");
        EXPECT_EQ(o.pluginDir, (std::filesystem::path(cwd) / "plugin-daemon").string());
        EXPECT_FALSE(o.enableEventClient);
    }
    EXPECT_TRUE(trans({"oKavelAgent", "-h"}).enableHttp);
}
