#include "platform/Journal.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

// Warnings go to the journal only when standard error is the journal's stream itself, not when the
// variable was merely inherited by a process whose standard error goes elsewhere.
TEST(Journal, StandardErrorIsTheJournalOnlyWhenTheStreamMatches) {
    struct stat info {};
    ASSERT_EQ(::fstat(STDERR_FILENO, &info), 0);
    const std::string self = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    const std::pair<std::string, bool> cases[] = {
        {self, true},
        {std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino + 1), false},
        {"", false},
        {"garbage", false}};
    for (const auto& [stream, expected] : cases) {
        talvern::test::ScopedEnv env("JOURNAL_STREAM", stream);
        EXPECT_EQ(talvern::platform::standardErrorIsJournal(), expected) << stream;
    }
}
