#include "web/ServicePortLookup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/ErrorCategories.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

TEST(ServicePortLookup, TheFirstDirectoryWithAPortFrom1To65535Wins) {
    talvern::test::TempDir dir;
    std::vector<std::string> directories;
    for (const char* content : {"0", "65536", "12a", "", "65535", "80"}) {
        directories.push_back((dir / std::to_string(directories.size())).string());
        talvern::test::writeFile(directories.back() + "/var/run/svc", content);
    }
    auto in = [](std::vector<std::string> list) { return [list](const std::string&) { return list; }; };
    std::error_code ec;
    EXPECT_EQ(talvern::sdp::lookupServicePort("agent", "svc", ec, in(directories)), 65535);
    EXPECT_FALSE(ec);
    directories.resize(4);
    EXPECT_EQ(talvern::sdp::lookupServicePort("agent", "svc", ec, in(directories)), 0);
    EXPECT_EQ(ec, talvern::rpc::make_error_code(talvern::rpc::general_errc::not_found));
}
