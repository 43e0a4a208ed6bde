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

TEST_F(ConfigurationTest, DeeplyNestedFileIsReadWithoutExhaustingTheStack) {
    write(R"({"x":)" + std::string(1000000, '[') + std::string(1000000, ']') + R"(,"lang":"zh-CN"})");
    std::string value;
    EXPECT_TRUE(Configuration(path()).readKeyVaule("lang", value));
    EXPECT_EQ(value, "zh-CN");
}
