#include "app/DebugLogSwitch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "log/Log.h"
#include "log/Logger.h"
#include "support/TempDir.h"
#include "support/Timer.h"

using namespace std::chrono_literals;

namespace {

// Polls until the main logger's debug state is as wanted, at most a few seconds.
bool debugBecomes(bool wanted) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (talvern::log::shouldLog(talvern::log::Level::debug) == wanted) {
            return true;
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

}  // namespace

TEST(DebugLogSwitch, MarkFileTurnsDebugLinesOnAndOffWithinOnePeriod) {
    talvern::test::TempDir dir;
    talvern::LoggerOptions options;
    options.filePath = (dir / "main.log").string();
    options.level = 3;
    options.debugMarkPath = (dir / "debug").string();
    talvern::Logger::GetInstance().setOptions(options);
    ASSERT_FALSE(talvern::log::shouldLog(talvern::log::Level::debug));

    talvern::utilities::Timer timer;
    talvern::DebugLogSwitch debugSwitch(timer, 10ms);
    debugSwitch.start();

    std::ofstream(dir / "debug") << "";
    ASSERT_TRUE(debugBecomes(true));
    OKV_LOG_DEBUG("visible debug line");

    std::filesystem::remove(dir / "debug");
    ASSERT_TRUE(debugBecomes(false));
    OKV_LOG_DEBUG("invisible debug line");
    debugSwitch.stop();

    talvern::Logger::GetInstance().flush();
    std::ifstream in(dir / "main.log");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("visible debug line"), std::string::npos);
    EXPECT_EQ(text.find("invisible debug line"), std::string::npos);
}

TEST(DebugLogSwitch, StopEndsTheChecksAndMayBeRepeated) {
    talvern::utilities::Timer timer;
    {
        talvern::DebugLogSwitch debugSwitch(timer, 1ms);
        debugSwitch.start();
        debugSwitch.start();  // a second start does not double the checks
        std::this_thread::sleep_for(5ms);
        debugSwitch.stop();
        debugSwitch.stop();
    }
    // The switch is gone; the timer must not call into it any more.
    std::this_thread::sleep_for(5ms);
}
