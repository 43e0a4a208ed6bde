#include "support/Hosts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::Hosts;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;

namespace {

const char* const kDomain = "agent.okavel.talvern.example";
const char* const kBlock =
    "\n# This line is auto added by oKavelAgent, do not modify, or oKavelAgent may unable to work\n"
    "127.0.0.1\tagent.okavel.talvern.example\n\n";

class HostsFile : public ::testing::Test {
protected:
    void write(const std::string& text) { talvern::test::writeFile(file, text); }
    std::string read() const { return talvern::test::readFile(file); }

    TempDir dir;
    std::filesystem::path file = dir.path() / "hosts";
    ScopedEnv env{"OKAVEL_HOSTS_FILE", file.string()};
    talvern::test::LogCapture log;
};

}  // namespace

TEST_F(HostsFile, ALiveLineIsFoundWhateverItsSpacingAndNothingIsWritten) {
    for (std::string line :
         {"127.0.0.1\tagent.okavel.talvern.example", "  127.0.0.1   agent.okavel.talvern.example  ",
          "127.0.0.1 agent.okavel.talvern.example # the agent",
          "127.0.0.1 other agent.okavel.talvern.example"}) {
        const std::string content = "::1 localhost\n" + line + "\n";
        write(content);
        bool expected = line.find("other") == std::string::npos;
        EXPECT_EQ(Hosts::addHost("127.0.0.1", kDomain), true) << line;
        if (expected) {
            EXPECT_EQ(read(), content) << line;
        }
    }
    EXPECT_TRUE(log.contains(
        "Already has ip:127.0.0.1 and domain:agent.okavel.talvern.example in system hosts file."));
}

TEST_F(HostsFile, ACommentedLineGetsTheBlockAppended) {
    write("# 127.0.0.1 agent.okavel.talvern.example\n");
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", kDomain));
    EXPECT_EQ(read(), std::string("# 127.0.0.1 agent.okavel.talvern.example\n") + kBlock);
    EXPECT_TRUE(log.contains("our domain config has been noted!"));
}

TEST_F(HostsFile, AnotherAddressIsReportedThenTheBlockIsAppendedAndFoundNextTime) {
    write("10.0.0.1 agent.okavel.talvern.example\n");
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", kDomain));
    EXPECT_TRUE(
        log.contains("our domain has been set to another ip! May be oKavel agent cannot be connected!"));
    const std::string once = read();
    EXPECT_EQ(once, std::string("10.0.0.1 agent.okavel.talvern.example\n") + kBlock);
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", kDomain));
    EXPECT_EQ(read(), once);  // found, not appended twice
}

TEST_F(HostsFile, AMissingFileIsCreatedWithTheBlock) {
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", kDomain));
    EXPECT_EQ(read(), kBlock);
}

TEST_F(HostsFile, ABadAddressIsRefusedWithoutTouchingTheFile) {
    write("127.0.0.1 localhost\n");
    EXPECT_FALSE(Hosts::addHost("256.1.1.1", kDomain));
    EXPECT_EQ(read(), "127.0.0.1 localhost\n");
    EXPECT_TRUE(log.contains("Fail to create boost::asio::ip from ip:256.1.1.1"));
}

TEST_F(HostsFile, FullStopsOfTheDomainAreLiteral) {
    write("127.0.0.1 axb\n");
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", "a.b"));
    EXPECT_NE(read().find("127.0.0.1\ta.b\n"), std::string::npos);
}

TEST_F(HostsFile, OverlongLinesAreIgnored) {
    write("127.0.0.1 agent.okavel.talvern.example " + std::string(1100, 'x') + "\n");
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", kDomain));
    EXPECT_TRUE(log.contains("Detet a line has size:"));
    EXPECT_NE(read().find(kBlock), std::string::npos);
}

TEST_F(HostsFile, TheBackgroundAttemptReportsSuccessOnTheTimerThread) {
    std::promise<bool> outcome;
    talvern::addHostAndCallback("127.0.0.1", kDomain, [&](bool ok) { outcome.set_value(ok); });
    auto future = outcome.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(future.get());
    EXPECT_EQ(read(), kBlock);
}

TEST(HostsRetry, AnUnwritableFileIsRetriedTenTimesThenGivenUp) {
    TempDir dir;
    ScopedEnv env{"OKAVEL_HOSTS_FILE", (dir.path() / "no-such-dir" / "hosts").string()};
    talvern::test::LogCapture log;
    std::promise<bool> outcome;
    talvern::addHostAndCallback("127.0.0.1", kDomain, [&](bool ok) { outcome.set_value(ok); });
    auto future = outcome.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(future.get());
    EXPECT_EQ(log.count("try again..."), 10);
    EXPECT_TRUE(log.contains("After 11 time retry, stop add."));
}

TEST_F(HostsFile, AHundredRecordsOfTheDomainAreLookedAtButNotOneMore) {
    std::string records;
    for (int i = 1; i <= 100; ++i) {
        records += "10.0.0." + std::to_string(i) + " " + kDomain + "\n";
    }
    write(records);
    EXPECT_TRUE(Hosts::addHost("127.0.0.1", kDomain));
    write(records + "10.0.1.1 " + kDomain + "\n");
    EXPECT_FALSE(Hosts::addHost("127.0.0.1", kDomain));
    EXPECT_TRUE(log.contains("There are already 100 record of domain:" + std::string(kDomain)));
}
