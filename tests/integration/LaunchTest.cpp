#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AgentSandbox.h"

using talvern::test::AgentSandbox;
using talvern::test::contains;

TEST(Launch, HelpPrintsUsageAndExits255WithoutALogFile) {
    AgentSandbox box;
    auto r = box.run({"--help"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(contains(r.out, "usage: oKavelAgent [options] ... \noptions:\n"));
    EXPECT_TRUE(contains(r.err, "initCmdline fail"));
    EXPECT_TRUE(AgentSandbox::listFiles(box.root() / "data").empty());
    EXPECT_TRUE(AgentSandbox::listFiles(box.binDir() / "logs").empty());
}

TEST(Launch, UnknownOptionPrintsErrorsOnStandardError) {
    AgentSandbox box;
    auto r = box.run({"--plugin", "plugins", "--frobnicate"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(contains(r.err, "parse cmd param fail\nusage: oKavelAgent [options] ... "));
    EXPECT_TRUE(contains(r.err, "undefined option: --frobnicate\n"));
    EXPECT_FALSE(contains(r.out, "usage:"));
    EXPECT_TRUE(AgentSandbox::listFiles(box.root() / "data").empty());
}

TEST(Launch, PluginPathsThatClimbOutAreRefused) {
    AgentSandbox box;
    for (std::string bad : {"../x", "a/../b", "a\\..\\b"}) {
        auto r = box.run({"--plugin", bad});
        EXPECT_EQ(r.exitCode, 255) << bad;
        EXPECT_TRUE(contains(r.out, "Path '" + bad + "' has the risk of crossing\n")) << r.out;
    }
    EXPECT_TRUE(AgentSandbox::listFiles(box.root() / "data").empty());
    // Two dots inside a name are fine: the detect command runs and finds no master.
    auto ok = box.run({"--plugin", "a..b", "--plugin-detect"});
    EXPECT_EQ(ok.exitCode, 2);
}

TEST(Launch, ConsoleLogNameCarriesPluginAndFlags) {
    AgentSandbox box;
    auto r = box.run({"--plugin", "plugins/x", "--enable-http", "--plugin-stop"});
    EXPECT_EQ(r.exitCode, 254);  // no master to stop
    EXPECT_TRUE(contains(r.out, "console app log name:oKavelAgent_plugins_x_h_k.log"));
    EXPECT_TRUE(contains(r.out, "singleId:oKavelAgent_plugins_x_h\n"));
    EXPECT_TRUE(std::filesystem::exists(box.logDir() / "oKavelAgent_plugins_x_h_k.log"));
}

TEST(Launch, MainPrintsItsStartUpLines) {
    AgentSandbox box;
    auto r = box.run({"--plugin", "p", "--plugin-detect"});
    EXPECT_TRUE(contains(r.out, "cmd parameter:\n./oKavelAgent\n--plugin\np\n--plugin-detect\n"));
    EXPECT_TRUE(contains(r.out, "set sdp agent current work path " + box.binDir().string() + "\n"));
    EXPECT_TRUE(contains(r.out, "appdataPath=" + box.dataHome().string() + "\n"));
    EXPECT_TRUE(contains(r.out, "sdpApp.exec end\n\nreturn value:2\n"));
}

TEST(Launch, ProtectionLibraryWithoutValidSignatureIsNotLoaded) {
    AgentSandbox box;
    box.enableDebugLog();
    std::filesystem::create_directories(box.root() / "oKavelDefenser");
    std::ofstream(box.root() / "oKavelDefenser" / "liboKavelDefenser.so") << "not a library";
    auto r = box.run({"--plugin", "plugins/oKavelCore", "--plugin-detect"});
    EXPECT_EQ(r.exitCode, 2);
    std::string log = AgentSandbox::readFile(box.logDir() / "oKavelAgent_plugins_oKavelCore_d.log");
    EXPECT_TRUE(contains(log, "liboKavelDefenser.so) signature is abnormal, please check it.")) << log;
    EXPECT_FALSE(contains(log, "The anti-phishing feature is enabled"));
}

TEST(Launch, SignedProtectionLibraryIsLoadedAndTheCoreHostTakesTheAntiPhishingLock) {
    AgentSandbox box;
    box.enableDebugLog();
    auto library = box.root() / "oKavelDefenser" / "liboKavelDefenser.so";
    std::filesystem::create_directories(library.parent_path());
    std::filesystem::copy_file(std::string(OKAVEL_TEST_PLUGIN_DIR) + "/test_module_y.so", library);
    ASSERT_EQ(talvern::test::signWith(library, OKAVEL_DEV_SIGNING_CERT, OKAVEL_DEV_SIGNING_KEY), "");

    auto core = box.start({"--plugin", "plugins/oKavelCore"});
    ASSERT_TRUE(core->waitForOutput("No other instance is running"));
    std::string logFile = (box.logDir() / "oKavelAgent_plugins_oKavelCore.log").string();
    ASSERT_TRUE(AgentSandbox::waitForFileText(
        logFile, "The anti-phishing feature is enabled in the okavelcore process"));
    std::string log = AgentSandbox::readFile(logFile);
    EXPECT_FALSE(contains(log, "signature is abnormal"));
    EXPECT_FALSE(contains(log, "return failed, errcode="));
    EXPECT_TRUE(
        std::filesystem::exists(box.runtimeDir() / "Core_{8BAF866D-42D1-4A16-B32C-D5831E8D6EF2}.lock"));
    EXPECT_EQ(box.run({"--plugin", "plugins/oKavelCore", "--plugin-stop-sync"}).exitCode, 0);
    EXPECT_EQ(core->wait(), 0);
}
