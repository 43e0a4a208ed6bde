#include "context/RunTimeContext.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "log/Check.h"
#include "log/Logger.h"

using talvern::IObject;
using talvern::RunTimeContext;

namespace {

struct FatalStop : std::runtime_error {
    FatalStop() : std::runtime_error("fatal check") {}
};

// Turns the process abort of a failed check into an exception for the duration of a test.
class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        talvern::check::setFatalActions([] { throw FatalStop(); }, [] {});
    }
    void TearDown() override { talvern::check::setFatalActions(nullptr, nullptr); }
};

}  // namespace

TEST_F(ContextTest, RawNameRegisteredTwiceIsFatalAndKeepsTheFirst) {
    RunTimeContext context("");
    int first = 1;
    int second = 2;
    context.registService("srvHandler", &first);
    EXPECT_THROW(context.registService("srvHandler", &second), FatalStop);
    EXPECT_EQ(context.getService("srvHandler"), &first);
    // The constructor's own names are taken too.
    EXPECT_THROW(context.registService("Logger", &second), FatalStop);
}
