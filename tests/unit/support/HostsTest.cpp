#include "support/Hosts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <optional>

#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

using talvern::Hosts;
using talvern::test::ScopedEnv;
using talvern::test::TempDir;

namespace {

const char* const kDomain = "agent.okavel.talvern.example";

std::string block(const std::string& domain = kDomain) {
    return "\n# This line is auto added by oKavelAgent, do not modify, or oKavelAgent may unable to work\n"
           "127.0.0.1\t" +
           domain + "\n\n";
}

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

// Each file before, the outcome and the file after; a second call finds the mapping and changes nothing.
TEST_F(HostsFile, TheBlockIsAppendedUnlessALiveLineMapsTheDomainAlready) {
    const std::string live = "::1 localhost\n  127.0.0.1   agent.okavel.talvern.example  # the agent\n";
    const std::string other = "10.0.0.1 agent.okavel.talvern.example\n";
    const std::string overlong = "127.0.0.1 agent.okavel.talvern.example " + std::string(1100, 'x') + "\n";
    struct Case {
        std::optional<std::string> before;  // none: no file
        const char* ip;
        const char* domain;
        bool ok;
        std::string after;
        const char* logged;
    };
    const Case cases[] = {
        {live, "127.0.0.1", kDomain, true, live,
         "Already has ip:127.0.0.1 and domain:agent.okavel.talvern.example"},
        {"127.0.0.1 other agent.okavel.talvern.example\n", "127.0.0.1", kDomain, true,
         "127.0.0.1 other agent.okavel.talvern.example\n" + block(), ""},
        {"127.0.0.1\tagent.okavel.talvern.example", "127.0.0.1", kDomain, true,
         "127.0.0.1\tagent.okavel.talvern.example", ""},
        {"# 127.0.0.1 agent.okavel.talvern.example\n", "127.0.0.1", kDomain, true,
         "# 127.0.0.1 agent.okavel.talvern.example\n" + block(), ""},
        {other, "127.0.0.1", kDomain, true, other + block(), "our domain has been set to another ip!"},
        {std::nullopt, "127.0.0.1", kDomain, true, block(), ""},
        {"127.0.0.1 localhost\n", "256.1.1.1", kDomain, false, "127.0.0.1 localhost\n",
         "Fail to create boost::asio::ip from ip:256.1.1.1"},
        {"127.0.0.1 axb\n", "127.0.0.1", "a.b", true, "127.0.0.1 axb\n" + block("a.b"), ""},
        {overlong, "127.0.0.1", kDomain, true, overlong + block(), "Detet a line has size:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before.value_or("no file"));
        std::filesystem::remove(file);
        if (c.before) {
            write(*c.before);
        }
        talvern::test::LogCapture caseLog;
        EXPECT_EQ(Hosts::addHost(c.ip, c.domain), c.ok);
        EXPECT_EQ(read(), c.after);
        EXPECT_TRUE(caseLog.contains(c.logged));
        EXPECT_EQ(Hosts::addHost(c.ip, c.domain), c.ok);
        EXPECT_EQ(read(), c.after);
    }
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
