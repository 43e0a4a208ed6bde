#include "log/Logger.h"

#include <gtest/gtest.h>

#include "log/Log.h"
#include "log/LogSetup.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::test::ScopedEnv;
using talvern::test::TempDir;

TEST(LogSetup, MainLoggerGoesToTheNamedFileAtWarningLevelWithTheSharedDebugMark) {
    TempDir dir;
    ScopedEnv shared("OKAVEL_SHARED_DATA_DIR", (dir / "shared").string());
    ::testing::internal::CaptureStdout();
    talvern::initLogNameWithDir("main.log", (dir / "logs").string(), false, true);
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("log dir:" + (dir / "logs").string() + " log name:main.log"), std::string::npos);
    EXPECT_NE(printed.find("log debug file path:" + (dir / "shared" / "debug").string()), std::string::npos);

    const auto& options = talvern::Logger::GetInstance().getOptions();
    EXPECT_EQ(options.level, 3);
    EXPECT_EQ(options.maxFileSize, 20971520u);
    OKV_LOG_INFO("an info line {}", 1);
    OKV_LOG_WARN("a warning line {}", 2);
    talvern::Logger::GetInstance().flush();
    std::string text = talvern::test::readFile(dir / "logs" / "main.log");
    EXPECT_EQ(text.find("an info line"), std::string::npos);
    EXPECT_NE(
        text.find("[oKavelAgent] [LogSetup_MainLoggerGoesToTheNamedFileAtWarningLevelWithTheSharedDebugMark_"
                  "Test::TestBody:"),
        std::string::npos);
    EXPECT_NE(text.find("a warning line 2"), std::string::npos);
}
