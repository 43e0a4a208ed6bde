#include "app/DebugLogSwitch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "log/Log.h"
#include "log/Logger.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "support/Timer.h"

using namespace std::chrono_literals;

namespace {

bool debugOn() { return talvern::log::shouldLog(talvern::log::Level::debug); }

// The main logger at info level (one above debug: the mark must still lower it), its debug mark in a
// temporary directory, a timer on a driven clock.
class DebugLogSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        talvern::LoggerOptions options;
        options.filePath = (dir / "main.log").string();
        options.level = 2;
        options.debugMarkPath = mark.string();
        talvern::Logger::GetInstance().setOptions(options);
        ASSERT_FALSE(debugOn());
    }
    void advance(std::chrono::milliseconds step) {
        ASSERT_TRUE(talvern::test::advanceAndSettle(timer, *clock, step));
    }

    talvern::test::TempDir dir;
    std::filesystem::path mark = dir / "debug";
    std::shared_ptr<talvern::test::ManualClock> clock = std::make_shared<talvern::test::ManualClock>();
    talvern::utilities::Timer timer{clock};
};

}  // namespace

TEST_F(DebugLogSwitch, MarkFileTurnsDebugLinesOnAndOffAtTheNextPeriod) {
    talvern::DebugLogSwitch debugSwitch(timer, 10ms);
    debugSwitch.start();

    std::ofstream(mark) << "";
    advance(9ms);
    EXPECT_FALSE(debugOn());
    advance(1ms);
    ASSERT_TRUE(debugOn());
    EXPECT_FALSE(talvern::log::shouldLog(talvern::log::Level::trace));
    OKV_LOG_DEBUG("visible debug line");

    std::filesystem::remove(mark);
    advance(10ms);
    ASSERT_FALSE(debugOn());
    OKV_LOG_DEBUG("invisible debug line");
    debugSwitch.stop();

    talvern::Logger::GetInstance().flush();
    const std::string text = talvern::test::readFile(dir / "main.log");
    EXPECT_NE(text.find("visible debug line"), std::string::npos);
    EXPECT_EQ(text.find("invisible debug line"), std::string::npos);
}
