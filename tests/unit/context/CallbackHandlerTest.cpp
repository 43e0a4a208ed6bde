#include "context/CallbackHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/LogCapture.h"

using talvern::CallbackHandler;

namespace {

// Plain functions, as modules register them; they record into this list.
std::vector<std::string> g_runs;
std::atomic<std::uint64_t> g_now{0};

void recordData(const std::string& data, std::string& result) {
    EXPECT_TRUE(result.empty());
    g_runs.push_back(data);
    result = "filled";
}

void otherRecord(const std::string& data, std::string&) { g_runs.push_back("other:" + data); }

void slowCallback(const std::string& data, std::string&) {
    g_runs.push_back(data);
    g_now += std::stoull(data);
}

class CallbackHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_runs.clear();
        g_now = 1000;
    }
    CallbackHandler handler{[] { return g_now.load(); }};
};

}  // namespace

TEST_F(CallbackHandlerTest, RunsInRegistrationOrderWithTheirOwnData) {
    handler.add({1, recordData, "a", "first"});
    handler.add({1, otherRecord, "b", "second"});
    handler.add({2, recordData, "c", "not run"});
    handler.add({1, recordData, "d", "third"});
    EXPECT_FALSE(handler.add({1, nullptr, "none", ""}));  // an entry without a callback is refused
    handler.handleCallback(1);
    EXPECT_EQ(g_runs, (std::vector<std::string>{"first", "other:second", "third"}));
}

TEST_F(CallbackHandlerTest, RemoveDropsEveryEntryOfThatCallback) {
    handler.add({1, recordData, "a", "a"});
    handler.add({1, otherRecord, "b", "b"});
    handler.add({3, recordData, "c", "c"});
    handler.remove(recordData);
    handler.handleCallback(3);
    EXPECT_EQ(g_runs, std::vector<std::string>{"other:b"});
    handler.remove(recordData);  // nothing left to remove
    handler.remove(otherRecord);
    g_runs.clear();
    handler.handleCallback(3);
    EXPECT_TRUE(g_runs.empty());
}

TEST_F(CallbackHandlerTest, SlowCallbackIsReportedAtWarningLevel) {
    talvern::test::LogCapture log;
    handler.add({1, slowCallback, "limit", "1000"});
    handler.add({1, slowCallback, "slow", "1001"});
    handler.handleCallback(1);
    const std::string where = "[Tag null] [talvern::CallbackHandler::handleCallback:";
    EXPECT_EQ(log.count({"[debug]", where, "exec update callback(limit) take time=1000"}), 1);
    EXPECT_EQ(log.count({"[warning]", where, "exec update callback(slow) take time=1001"}), 1);
    EXPECT_EQ(log.count("[warning]"), 1);
}
