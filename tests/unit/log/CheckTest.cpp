#include "log/Check.h"

#include <gtest/gtest.h>

#include <sstream>

namespace check = talvern::check;

namespace {

// Routes the console, the report stream and the fatal actions of the check facility into the test.
class CheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        check::setConsoleInput(&console);
        check::setReportStream(&reports);
        check::setFatalActions([this] { ++aborts; }, [this] { ++debugBreaks; });
        check::resetIgnoreAll();
    }
    void TearDown() override {
        check::setConsoleInput(nullptr);
        check::setReportStream(nullptr);
        check::setFatalActions(nullptr, nullptr);
        check::resetIgnoreAll();
    }
    std::istringstream console;
    std::ostringstream reports;
    int aborts = 0;
    int debugBreaks = 0;
};

}  // namespace

TEST_F(CheckTest, IgnoreAllSilencesEveryCheckEvenFatalOnes) {
    console.str("A\n");
    ::testing::internal::CaptureStderr();
    OKV_CHECK_AT(check::kLevelPrompt, false, "first");
    OKV_CHECK_AT(check::kLevelPrompt, false, "second");
    OKV_ENSURE(false, "third");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("second"), std::string::npos);
    EXPECT_EQ(aborts, 0);
}

TEST(CheckDeath, EnsureAbortsTheProcessForReal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(OKV_ENSURE(1 > 2, "argc must more than 0"),
                 "ENSURE failed(.|\n)*Expression: '1 > 2' failed(.|\n)*Message: argc must more than 0");
}
