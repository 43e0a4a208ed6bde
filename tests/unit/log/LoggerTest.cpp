#include "log/Logger.h"

#include <gtest/gtest.h>

#include "log/Log.h"
#include "log/LogSetup.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::test::ScopedEnv;
using talvern::test::TempDir;

TEST(QualifiedFunctionName, StripsReturnTypeAndParameters) {
    using talvern::log::qualifiedFunctionName;
    EXPECT_EQ(qualifiedFunctionName("bool talvern::sdp::SdpAgentController::start()"),
              "talvern::sdp::SdpAgentController::start");
    EXPECT_EQ(qualifiedFunctionName("talvern::Foo::Foo(int, char**)"), "talvern::Foo::Foo");
    EXPECT_EQ(qualifiedFunctionName("static std::map<int, int> a::b(const std::string&) const"), "a::b");
    EXPECT_EQ(qualifiedFunctionName("void a::X<T>::f(T) [with T = int]"), "a::X<T>::f");
    EXPECT_EQ(qualifiedFunctionName("int main(int, char**)"), "main");
    EXPECT_EQ(qualifiedFunctionName("talvern::A::operator()() const"), "talvern::A::operator()");
}

TEST(IndependentLog, WritesLinesWithTagFunctionAndLineAtItsLevel) {
    TempDir dir;
    talvern::IndependentLogObj log;
    log.initLogNameWithDir("one.log", (dir / "logs").string(), false, true);
    talvern::LoggerOptions options = log.getOptions();
    options.level = spdlog::level::info;
    options.debugMarkPath = (dir / "no-mark").string();
    log.setOptions(options);
    log.log(spdlog::level::debug, "tagA", "ns::f", 7, "hidden");
    log.log(spdlog::level::info, "tagB", "ns::g", 8, "shown {} braces stay");
    log.flush();
    std::string text = talvern::test::readFile(dir / "logs" / "one.log");
    EXPECT_EQ(text.find("hidden"), std::string::npos);
    EXPECT_NE(text.find("[tagB] [ns::g:8] shown {} braces stay"), std::string::npos);
}

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
