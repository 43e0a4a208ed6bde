#include "log/Check.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

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
    // Fails a prompting check at one fixed site and returns how many prompts were printed.
    int failPromptingSite(int times) {
        ::testing::internal::CaptureStderr();
        for (int i = 0; i < times; ++i) {
            OKV_CHECK_AT(check::kLevelPrompt, 1 + 1 == 3, "arithmetic broke");
        }
        std::string err = ::testing::internal::GetCapturedStderr();
        int prompts = 0;
        for (std::size_t at = err.find("Press (I)gnore"); at != std::string::npos;
             at = err.find("Press (I)gnore", at + 1)) {
            ++prompts;
        }
        return prompts;
    }

    std::istringstream console;
    std::ostringstream reports;
    int aborts = 0;
    int debugBreaks = 0;
};

}  // namespace

TEST_F(CheckTest, Level300ThrowsTheReport) {
    try {
        OKV_CHECK_AT(check::kLevelThrow, sizeof(int) == 1, "int too wide");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        std::string what = e.what();
        EXPECT_NE(what.find("Expression: 'sizeof(int) == 1' failed"), std::string::npos);
        EXPECT_NE(what.find("\nFunction: "), std::string::npos);
        EXPECT_NE(what.find("Message: int too wide\nstack:\n"), std::string::npos);
    }
}

TEST_F(CheckTest, Level0WritesToTheConfiguredStreamAnd100ToStandardOutput) {
    OKV_CHECK_AT(check::kLevelStream, false, "to the stream");
    EXPECT_NE(reports.str().find("Message: to the stream"), std::string::npos);

    ::testing::internal::CaptureStdout();
    OKV_CHECK_AT(check::kLevelStdout, false, "to stdout");
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Message: to stdout"), std::string::npos);
}

// The answers at the prompt of one failing site: how often it asked, and what it did.
TEST_F(CheckTest, PromptAnswersIgnoreDebugOrAbort) {
    struct Case {
        const char* answers;  // "" : the console cannot be read, which ignores
        int failures, prompts, aborts, debugBreaks;
    };
    const Case cases[] = {
        {"", 3, 3, 0, 0},    {"I\nI\n", 2, 2, 0, 0}, {"D\n", 1, 1, 0, 1},
        {"b\n", 1, 1, 1, 0}, {"F\n", 3, 1, 0, 0},  // last: the site stays silent from now on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers);
        aborts = debugBreaks = 0;
        console.clear();
        console.str(c.answers);
        EXPECT_EQ(failPromptingSite(c.failures), c.prompts);
        EXPECT_EQ(aborts, c.aborts);
        EXPECT_EQ(debugBreaks, c.debugBreaks);
    }
    // Ignored forever: another site still asks, and so does a level without a handler of its own.
    console.clear();
    console.str("I\n");
    ::testing::internal::CaptureStderr();
    OKV_CHECK_AT(42, false, "other site");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Press (I)gnore"), std::string::npos);
}

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
