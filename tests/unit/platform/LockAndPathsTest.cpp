#include <gtest/gtest.h>

#include "platform/NamedLock.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

using talvern::test::ScopedEnv;
using talvern::test::TempDir;

TEST(NamedLock, IsExclusiveUntilReleased) {
    TempDir dir;
    ScopedEnv runtime("OKAVEL_RUNTIME_DIR", dir.str());
    talvern::platform::NamedLock first;
    talvern::platform::NamedLock second;
    std::error_code ec;
    ASSERT_TRUE(first.create("Global\\okv-test", ec)) << ec.message();
    EXPECT_FALSE(second.create("okv-test", ec));  // the prefix names the same lock
    first.release();
    EXPECT_TRUE(second.create("okv-test", ec)) << ec.message();
}

TEST(UserDataHome, ARelativeXdgDataHomeIsReplacedByTheOneUnderHome) {
    TempDir dir;
    ScopedEnv home("HOME", dir.str());
    ScopedEnv xdg("XDG_DATA_HOME", "relative/share");
    std::string fixed;
    std::error_code ec;
    ASSERT_TRUE(talvern::platform::fixUpUserDataHome(fixed, ec)) << ec.message();
    EXPECT_EQ(fixed, (dir / ".local" / "share").string());
    EXPECT_EQ(talvern::platform::environment("XDG_DATA_HOME"), fixed);
}
