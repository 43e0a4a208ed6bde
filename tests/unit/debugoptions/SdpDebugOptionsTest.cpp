#include "debugoptions/SdpDebugOptions.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using talvern::EngineSpecification;
using talvern::SdpDebugOptions;
using talvern::Transport;

namespace {

class SdpDebugOptionsTest : public ::testing::Test {
protected:
    std::string sharedDir() const { return m_dir.str() + "/"; }
    std::string filePath() const { return sharedDir() + "var/conf/debug.json"; }

    void writeFile(const std::string& content) const { talvern::test::writeFile(filePath(), content); }

    talvern::test::TempDir m_dir;
};

constexpr const char* kDefaultsText =
    R"({"thrift":{"transport":"all"},"ukey":{"engineSpecification":"all"}})";

}  // namespace

TEST_F(SdpDebugOptionsTest, NestingBeyondTheLimitIsAFormatError) {
    auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    auto objects = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) {
            text += R"({"a":)";
        }
        return text + "1" + std::string(depth, '}');
    };
    // 127 levels inside the top-level object: 128 in all, still accepted.
    for (const std::string& deepest : {arrays(127), objects(127)}) {
        writeFile(R"({"extra":)" + deepest + R"(,"thrift":{"transport":"tcp"}})");
        SdpDebugOptions options(sharedDir());
        EXPECT_EQ(options()->thrift.transport, Transport::tcp);
    }
    for (const std::string& tooDeep : {arrays(128), objects(128), arrays(1000000)}) {
        const auto depth = tooDeep.size();
        writeFile(R"({"extra":)" + tooDeep + R"(,"thrift":{"transport":"tcp"}})");
        talvern::test::LogCapture log;
        SdpDebugOptions options(sharedDir());
        EXPECT_EQ(options()->thrift.transport, Transport::all) << depth;
        EXPECT_TRUE(log.hasLine("[warning]", "Read the debug configuration format error")) << depth;
    }
}
