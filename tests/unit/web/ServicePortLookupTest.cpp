#include "web/ServicePortLookup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ErrorCategories.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

TEST(ServicePortLookup, TheFirstDirectoryWithAPortFrom1To65535Wins) {
    talvern::test::TempDir dir;
    std::vector<std::string> directories;
    for (const char* content : {"123456", "12a", "", "65535", "80"}) {
        directories.push_back((dir / std::to_string(directories.size())).string());
        talvern::test::writeFile(directories.back() + "/var/run/svc", content);
    }
    auto in = [](std::vector<std::string> list) { return [list](const std::string&) { return list; }; };
    std::error_code ec;
    testing::internal::CaptureStderr();
    EXPECT_EQ(talvern::sdp::lookupServicePort("agent", "svc", ec, in(directories)), 65535);
    EXPECT_FALSE(ec);
    // Six digits are "out of range" here, unlike in the bus client.
    EXPECT_THAT(
        testing::internal::GetCapturedStderr(),
        testing::HasSubstr("the port is out of range, process: agent service:svc path:" + directories[0]));
    directories.resize(3);
    EXPECT_EQ(talvern::sdp::lookupServicePort("agent", "svc", ec, in(directories)), 0);
    EXPECT_EQ(ec, talvern::rpc::make_error_code(talvern::rpc::general_errc::not_found));
}
