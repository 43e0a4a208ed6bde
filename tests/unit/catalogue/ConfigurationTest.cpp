#include "catalogue/Configuration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <utility>

#include "support/LogCapture.h"
#include "support/TempDir.h"

using talvern::utilities::Configuration;

namespace {

class ConfigurationTest : public ::testing::Test {
protected:
    std::string path() const { return (m_dir / "localConfig.json").string(); }
    void write(const std::string& text) const { std::ofstream(path(), std::ios::trunc) << text; }

    talvern::test::TempDir m_dir;  // each test's own: tests run in parallel
};

constexpr const char* kFunction = "[talvern::utilities::Configuration::readKeyVaule:";

}  // namespace

TEST_F(ConfigurationTest, ReadsAStringMember) {
    write(R"({"lang":"en-US","a":{"lang":"zh-CN"}})");
    std::string value = "old";
    EXPECT_TRUE(Configuration(path()).readKeyVaule("lang", value));
    EXPECT_EQ(value, "en-US");
}

TEST_F(ConfigurationTest, MissingFileIsLoggedAndFallsBack) {
    talvern::test::LogCapture log;
    std::string value = "kept";
    EXPECT_FALSE(Configuration(path()).readKeyVaule("lang", value));
    EXPECT_EQ(value, "kept");
    EXPECT_TRUE(
        log.hasLine("[error]", "[common]", kFunction,
                    "Failed to read file localConfig.json. reason: category:generic code:2 msg:No such "
                    "file or directory"));
}

TEST_F(ConfigurationTest, UnusableContentIsLoggedWithItsReasonAndFallsBack) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"lang":"en-US",})", "Parsing failed. error code:4; HowTo: please check json"},
        {"", "Parsing failed. error code:1; HowTo: please check json"},
        {R"({"Lang":"en-US"})", "The field does not exist"},
        {"[]", "The field does not exist"},
        {R"("lang")", "The field does not exist"},
        {R"({"lang":3})", "The field is not a string"},
        {R"({"lang":null})", "The field is not a string"},
    };
    for (const auto& [text, reason] : cases) {
        SCOPED_TRACE(text);
        write(text);
        talvern::test::LogCapture log;
        std::string value = "kept";
        EXPECT_FALSE(Configuration(path()).readKeyVaule("lang", value));
        EXPECT_EQ(value, "kept");
        EXPECT_TRUE(log.hasLine(
            "[error]", "[common]", kFunction,
            "Failed to read field lang in the localConfig.json file(" + path() + "); Reason: " + reason));
    }
}

TEST_F(ConfigurationTest, DeeplyNestedFileIsReadWithoutExhaustingTheStack) {
    write(R"({"x":)" + std::string(1000000, '[') + std::string(1000000, ']') + R"(,"lang":"zh-CN"})");
    std::string value;
    EXPECT_TRUE(Configuration(path()).readKeyVaule("lang", value));
    EXPECT_EQ(value, "zh-CN");
}
