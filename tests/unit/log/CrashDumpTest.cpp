#include "log/CrashDump.h"

#include <gtest/gtest.h>

#include <thrift/concurrency/Thread.h>
#include <thrift/concurrency/ThreadFactory.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <regex>
#include <vector>

#include "platform/ThreadSignalStack.h"
#include "rpc/ThriftServerRunner.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;

namespace {

std::vector<std::string> fileNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void touch(const fs::path& file, int ageSeconds) {
    std::ofstream(file) << "old dump";
    fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
}

}  // namespace

TEST(DumpNames, LocalOffsetFollowsDaylightSavingChangesToTheSecond) {
    const std::int64_t from = 1700000000;
    const std::int64_t spring = from + 40 * 86400 + 3 * 3600 + 17;  // not on a sampling step
    const std::int64_t autumn = spring + 200 * 86400 + 1;
    auto offsetAt = [&](std::int64_t at) { return at >= spring && at < autumn ? 7200L : 3600L; };
    auto changes = talvern::utcOffsetChanges(from, 366, offsetAt);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[1].since, spring);
    EXPECT_EQ(changes[2].since, autumn);
    struct Case {
        std::int64_t at;
        long offset;
    } cases[] = {{from - 1, 3600}, {spring - 1, 3600}, {spring, 7200}, {autumn - 1, 7200}, {autumn, 3600}};
    for (const Case& c : cases) {
        EXPECT_EQ(talvern::utcOffsetAt(changes.data(), changes.size(), c.at), c.offset) << c.at;
    }
    EXPECT_EQ(talvern::utcOffsetChanges(from, 366, [](std::int64_t) { return -18000L; }).size(), 1u);
}

TEST(AdjustDumpFiles, SevenOldDumpsLeaveTheFiveNewestFiveOrFewerAreLeftAlone) {
    TempDir dir;
    for (int i = 0; i < 7; ++i) {
        touch(dir / ("d" + std::to_string(i) + ".dmp"), 1000 - i * 10);  // d0 oldest, d6 newest
    }
    fs::create_directory(dir / "sub");
    talvern::adjustDumpFiles(dir.str());
    const std::vector<std::string> newest{"d2.dmp", "d3.dmp", "d4.dmp", "d5.dmp", "d6.dmp"};
    EXPECT_EQ(fileNames(dir.path()), newest);
    EXPECT_TRUE(fs::is_directory(dir / "sub"));
    talvern::adjustDumpFiles(dir.str());
    EXPECT_EQ(fileNames(dir.path()), newest);
    talvern::adjustDumpFiles((dir / "absent").string());
}

class CrashTest : public ::testing::Test {
protected:
    // The child must see this fixture's directory, so it is forked, not re-executed.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }

    // Crashes a child that set up dumps like "oKavelAgent --plugin plugins/oKavelCore".
    static void crashLikeTheCoreHost() {
        const char* argv[] = {"/opt/oKavel/oKavelAgent", "--plugin", "plugins/oKavelCore", nullptr};
        talvern::installCrashHandler(3, const_cast<char**>(argv));
        std::raise(SIGSEGV);
    }

    // Overflows the stack of a thread that start() runs, after setting up dumps like the core host.
    static void overflowOnAThread(const std::function<void(std::function<void()>)>& start) {
        const char* argv[] = {"/opt/oKavel/oKavelAgent", "--plugin", "plugins/oKavelCore", nullptr};
        talvern::installCrashHandler(3, const_cast<char**>(argv));
        start([] { deepen(nullptr, 0); });
        for (;;) {
            ::pause();
        }
    }
    [[gnu::noinline]] static long deepen(volatile char* previous, long depth) {
        volatile char frame[4096];
        frame[0] = previous != nullptr ? previous[0] : 1;
        if (depth == std::numeric_limits<long>::max()) {
            return frame[0];
        }
        return deepen(frame, depth + 1) + frame[1];
    }

    TempDir home;
    ScopedEnv env{"XDG_DATA_HOME", home.str()};
    fs::path dumpDir = home.path() / "Talvern/oKavel/Dump/oKavelAgent";
};

TEST_F(CrashTest, CrashPrunesToFewerThanFiveThenWritesOneNamedDumpAndExitsZero) {
    fs::create_directories(dumpDir);
    for (int i = 0; i < 6; ++i) {
        touch(dumpDir / ("old" + std::to_string(i) + ".dmp"), 100);
    }
    EXPECT_EXIT(crashLikeTheCoreHost(), ::testing::ExitedWithCode(0), "");
    auto names = fileNames(dumpDir);
    ASSERT_EQ(names.size(), 5u);  // four old ones and the new dump, which sorts first
    EXPECT_TRUE(std::regex_match(names[0],
                                 std::regex(R"(oKavelCore_\d\d\.\d\d\.\d\d\.\d\d\.\d\d\.\d\d\.\d{3}\.dmp)")))
        << names[0];
    std::string dump = talvern::test::readFile(dumpDir / names[0]);
    EXPECT_NE(dump.find("signal: 11"), std::string::npos);
    EXPECT_NE(dump.find("mode: normal"), std::string::npos);
    EXPECT_NE(dump.find("stack:\n0x"), std::string::npos);
    EXPECT_EQ(dump.find("maps:"), std::string::npos);
}

TEST_F(CrashTest, StackOverflowOnAnyThreadOfTheAgentWritesTheDump) {
    const std::pair<const char*, std::function<void(std::function<void()>)>> starters[] = {
        {"agent thread", [](std::function<void()> body) { talvern::platform::makeThread(body).detach(); }},
        {"RPC connection thread",
         [](std::function<void()> body) {
             struct Body : apache::thrift::concurrency::Runnable {
                 std::function<void()> body;
                 void run() override { body(); }
             };
             auto runnable = std::make_shared<Body>();
             runnable->body = std::move(body);
             talvern::rpc::connectionThreadFactory()->newThread(runnable)->start();
         }},
    };
    for (const auto& [name, start] : starters) {
        SCOPED_TRACE(name);
        fs::remove_all(dumpDir);
        EXPECT_EXIT(overflowOnAThread(start), ::testing::ExitedWithCode(0), "");
        auto names = fileNames(dumpDir);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_NE(talvern::test::readFile(dumpDir / names[0]).find("signal: 11"), std::string::npos);
    }
}
