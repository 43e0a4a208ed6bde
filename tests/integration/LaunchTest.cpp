#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AgentSandbox.h"
#include "support/Eventually.h"

using talvern::test::AgentSandbox;
using talvern::test::contains;

TEST(Launch, OnlyASignedProtectionLibraryIsLoadedAndTheCoreHostThenTakesTheAntiPhishingLock) {
    AgentSandbox box;
    box.enableDebugLog();
    auto library = box.root() / "oKavelDefenser" / "liboKavelDefenser.so";
    std::filesystem::create_directories(library.parent_path());
    std::ofstream(library) << "not a library";
    EXPECT_EQ(box.run({"--plugin", "plugins/oKavelCore", "--plugin-detect"}).exitCode, 2);
    std::string log = AgentSandbox::readFile(box.logDir() / "oKavelAgent_plugins_oKavelCore_d.log");
    EXPECT_TRUE(contains(log, "liboKavelDefenser.so) signature is abnormal, please check it.")) << log;
    EXPECT_FALSE(contains(log, "The anti-phishing feature is enabled"));

    std::filesystem::copy_file(std::string(OKAVEL_TEST_PLUGIN_DIR) + "/test_module_y.so", library,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(talvern::test::signWith(library, OKAVEL_DEV_SIGNING_CERT, OKAVEL_DEV_SIGNING_KEY), "");
    auto core = box.start({"--plugin", "plugins/oKavelCore"});
    std::string logFile = (box.logDir() / "oKavelAgent_plugins_oKavelCore.log").string();
    ASSERT_TRUE(AgentSandbox::waitForFileText(
        logFile, "The anti-phishing feature is enabled in the okavelcore process"));
    log = AgentSandbox::readFile(logFile);
    EXPECT_FALSE(contains(log, "signature is abnormal"));
    EXPECT_FALSE(contains(log, "return failed, errcode="));
    // The lock is taken just after that line is logged.
    EXPECT_TRUE(talvern::test::eventually([&] {
        return std::filesystem::exists(box.runtimeDir() / "Core_{8BAF866D-42D1-4A16-B32C-D5831E8D6EF2}.lock");
    }));
    EXPECT_EQ(box.run({"--plugin", "plugins/oKavelCore", "--plugin-stop-sync"}).exitCode, 0);
    EXPECT_EQ(core->wait(), 0);
}
