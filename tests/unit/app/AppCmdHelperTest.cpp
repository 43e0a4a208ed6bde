#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/SdpAppCmdHelper.h"
#include "app/SdpParamAdaptor.h"
#include "app/cmdline/CmdlineParser.h"
#include "support/Args.h"

using talvern::test::Args;

namespace {

// One command line through initCmdline: what it answered and printed, and the parser it filled.
struct Launch {
    explicit Launch(std::vector<std::string> words) : args(std::move(words)) {
        std::ostringstream outText;
        std::ostringstream errText;
        ok = talvern::initCmdline(*parser, args.argc(), args.argv(), outText, errText);
        out = outText.str();
        err = errText.str();
    }
    std::shared_ptr<cmdline::parser> parser = std::make_shared<cmdline::parser>();
    Args args;
    bool ok = false;
    std::string out;
    std::string err;
};

// A command line and the name it gives.
struct NameCase {
    std::vector<std::string> args;
    std::string expected;
};

}  // namespace

TEST(InitCmdline, PluginDirectoryEscapeIsRefused) {
    for (std::string bad : {"../x", "a/../b", "a\\..\\b", "..", "x/.."}) {
        Launch r({"oKavelAgent", "--plugin", bad});
        EXPECT_FALSE(r.ok) << bad;
        EXPECT_EQ(r.out, "Path '" + bad + "' has the risk of crossing\n");
    }
    for (std::string good : {"a..b", "plugins/x", "...", ".hidden/..x"}) {
        EXPECT_TRUE(Launch({"oKavelAgent", "--plugin", good}).ok) << good;
    }
}

TEST(LaunchNames, LogFileNameCarriesPluginValueAndEveryFlagLetter) {
    const NameCase cases[] = {
        {{"oKavelAgent"}, "oKavelService.log"},
        {{"oKavelAgent", "--plugin", "plugins/x", "--enable-http", "--plugin-stop"},
         "oKavelAgent_plugins_x_h_k.log"},
        {{"oKavelAgent", "-p", "\"plugins/oKavelCore\"", "-w", "-e", "-d"},
         "oKavelAgent_plugins_oKavelCore_e_d_w.log"},
        {{"oKavelAgent", "--install"}, "oKavelService.log"},
    };
    for (const auto& c : cases) {
        Launch launch(c.args);
        ASSERT_TRUE(launch.ok);
        EXPECT_EQ(talvern::logFileName(*launch.parser), c.expected);
    }
}

TEST(LaunchNames, ConsoleAppIdSkipsQueryAndStopFlags) {
    const NameCase cases[] = {
        {{"/opt/oKavel/oKavelAgent", "--plugin", "plugins/x", "-h", "--plugin-stop"},
         "oKavelAgent_plugins_x_h"},
        {{"oKavelAgent.bin", "--plugin", "plugins/x", "-e", "-h", "-d", "-w"}, "oKavelAgent_plugins_x_h_e"},
        {{"oKavelAgent", "--plugin", "\"a/b\"/c"}, "oKavelAgent_a_b_c"},
        {{"./oKavelAgent", "--enable-http"}, "oKavelAgent_h"},
    };
    for (const auto& c : cases) {
        Launch launch(c.args);
        ASSERT_TRUE(launch.ok);
        EXPECT_EQ(talvern::getConsoleAppId(*launch.parser, launch.args.argc(), launch.args.argv()),
                  c.expected);
    }
}

TEST(ParamAdaptor, PluginsTurnsOnHttpAndBusDaemonAndNoPluginBecomePluginDaemon) {
    struct Case {
        std::vector<std::string> args;
        std::string pluginPath;
        bool http, bus, client;
    };
    const Case cases[] = {
        {{"oKavelAgent", "--plugin", "plugins"}, "plugins", true, true, true},
        {{"oKavelAgent", "--plugin", "plugins/oKavelCore", "-e", "--plugin-cmd", "go", "-n", "a;b"},
         "plugins/oKavelCore",
         false,
         true,
         true},
        {{"oKavelAgent", "--plugin", "plugin-daemon"}, "plugin-daemon", false, false, false},
        {{"oKavelAgent", "--plugin", "x/plugin-daemon/y"}, "plugin-daemon", false, false, false},
        {{"oKavelAgent", "-h"}, "plugin-daemon", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        Launch launch(c.args);
        ASSERT_TRUE(launch.ok);
        talvern::sdp::SdpParamAdaptor adaptor(launch.parser);
        ASSERT_TRUE(adaptor.parseParam());
        const talvern::sdp::SdpOption& o = adaptor;
        EXPECT_EQ(o.pluginPath, c.pluginPath);
        EXPECT_EQ(o.pluginDir, (std::filesystem::current_path() / c.pluginPath).string());
        EXPECT_EQ(std::tuple(o.enableHttp, o.enableEventBus, o.enableEventClient),
                  std::tuple(c.http, c.bus, c.client));
        EXPECT_EQ(o.pluginCmd, c.args.size() == 8 ? "go" : "");
        EXPECT_EQ(o.monitorFiles, c.args.size() == 8 ? "a;b" : "");
    }
}
