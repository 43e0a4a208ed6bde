#include "catalogue/MessageCatalogue.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "catalogue/Configuration.h"

namespace fs = std::filesystem;
using namespace talvern::utilities;

namespace {

std::set<std::int32_t> expectedCodes() {
    std::set<std::int32_t> codes;
    for (std::int32_t c = 0; c <= 220; ++c) {
        codes.insert(c);
    }
    codes.insert({226, 227, 10000, 20000, 30000, 40000});
    for (std::int32_t c = 0x0A000024; c <= 0x0A00018F; ++c) {
        codes.insert(c);
    }
    for (std::int32_t c : {0x0A000028, 0x0A00007E, 0x0A0000B0, 0x0A0000B1, 0x0A0000B2, 0x0A0000B3}) {
        codes.erase(c);
    }
    return codes;
}

// A language source with a fixed "lang" value (or none) and a fixed system language.
LanguageSources fixedSources(const char* lang, int systemLanguage) {
    LanguageSources sources;
    sources.readKey = [lang](const std::string& key, std::string& value) {
        if (lang == nullptr || key != "lang") {
            return false;
        }
        value = lang;
        return true;
    };
    sources.systemLanguage = [systemLanguage] { return systemLanguage; };
    return sources;
}

}  // namespace

TEST(MessageCatalogue, HoldsExactlyTheAssignedCodes) {
    const auto& catalogue = messageCatalogue();
    ASSERT_EQ(kCatalogueTableSize, 585u);
    EXPECT_EQ(catalogue.size(), 585u);  // no code appears twice in the table
    std::set<std::int32_t> codes;
    for (const auto& [code, entry] : catalogue) {
        EXPECT_EQ(code, entry.code);
        codes.insert(code);
    }
    EXPECT_EQ(codes, expectedCodes());
    for (std::int32_t absent : {221, 222, 223, 224, 225, 0x0A000028, 0x0A00007E, 0x0A0000B0, 0x0A0000B3,
                                0x0A000023, 0x0A000190, -1}) {
        EXPECT_EQ(catalogue.count(absent), 0u) << absent;
    }
}

TEST(MessageCatalogue, TableIsInCodeOrderAndEveryMessageHasBothTexts) {
    for (std::size_t i = 1; i < kCatalogueTableSize; ++i) {
        EXPECT_LT(kCatalogueTable[i - 1].code, kCatalogueTable[i].code) << i;
    }
    std::set<std::string> english;
    for (const auto& [code, entry] : messageCatalogue()) {
        if (code == 0) {
            EXPECT_STREQ(entry.english, "");
            EXPECT_STREQ(entry.chinese, "");
            continue;
        }
        EXPECT_STRNE(entry.english, "") << code;
        EXPECT_STRNE(entry.chinese, "") << code;
        EXPECT_TRUE(english.insert(entry.english).second) << "repeated text at " << code;
    }
}

TEST(MessageCatalogue, TheAgentsOwnMessages) {
    const auto chinese = fixedSources("zh-CN", 3);
    const auto english = fixedSources("en-US", 1);
    EXPECT_EQ(getMessage(6, chinese), "请求非法");
    EXPECT_EQ(getMessage(6, english), "Invalid request.");
    EXPECT_EQ(getMessage(37, english),
              "Error will occur while using oKavel if you disable its protection function.");
    EXPECT_NE(getMessage(37, chinese), getMessage(37, english));
    EXPECT_EQ(getMessage(0, chinese), "");
    EXPECT_EQ(getMessage(0, english), "");
}

TEST(MessageCatalogue, OnlyExactZhCnSelectsChinese) {
    for (const char* lang : {"en-US", "zh-cn", "", "zh-CN ", "zh", "zh-TW", "ZH-CN"}) {
        EXPECT_EQ(getMessage(6, fixedSources(lang, 1)), "Invalid request.") << lang;
        EXPECT_EQ(currentLanguage(fixedSources(lang, 1)), 3) << lang;
    }
    EXPECT_EQ(currentLanguage(fixedSources("zh-CN", 3)), 1);
}

TEST(MessageCatalogue, WithoutTheLangKeyTheSystemLanguageDecides) {
    EXPECT_EQ(getMessage(6, fixedSources(nullptr, 1)), "请求非法");
    EXPECT_EQ(getMessage(6, fixedSources(nullptr, 3)), "Invalid request.");
    // Only 1 means Chinese.
    EXPECT_EQ(currentLanguage(fixedSources(nullptr, 4)), 3);
    EXPECT_EQ(currentLanguage(LanguageSources{}), 3);
}

TEST(MessageCatalogue, UnknownCodesGiveTheUnknownErrorText) {
    EXPECT_EQ(getMessage(221, fixedSources("en-US", 1)), "Unknown error");
    EXPECT_EQ(getMessage(221, fixedSources("zh-CN", 3)), "未知错误");
    EXPECT_EQ(getMessage(0x0A0000B1, fixedSources(nullptr, 3)), "Unknown error");
}

// The real configuration file under the shared data directory, edited between look-ups.
class MessageCatalogueFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = m_tempDir.path();
        fs::create_directories(m_dir / "var" / "conf");
        ::setenv("OKAVEL_SHARED_DATA_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("OKAVEL_SHARED_DATA_DIR"); }
    void writeConfig(const std::string& text) {
        std::ofstream(m_dir / "var" / "conf" / "localConfig.json", std::ios::trunc) << text;
    }
    // A directory of each test's own: tests run in parallel.
    talvern::test::TempDir m_tempDir;
    fs::path m_dir;
};

TEST_F(MessageCatalogueFile, EditingTheFileChangesTheNextLookUp) {
    EXPECT_EQ(Configuration().filePath(), m_dir.string() + "/var/conf/localConfig.json");
    writeConfig(R"({"lang":"zh-CN"})");
    EXPECT_EQ(getMessage(6), "请求非法");
    writeConfig(R"({"lang":"en-US","other":1})");
    EXPECT_EQ(getMessage(6), "Invalid request.");
    writeConfig(R"({"theme":"dark","lang":"zh-CN"})");
    EXPECT_EQ(getMessage(6), "请求非法");
    EXPECT_EQ(getMessage(221), "未知错误");
}

TEST(MessageCatalogue, ConcurrentLookUpsInBothLanguages) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const auto sources = fixedSources(t % 2 == 0 ? "zh-CN" : "en-US", 3);
            const char* expected = t % 2 == 0 ? "请求非法" : "Invalid request.";
            for (int i = 0; i < 500; ++i) {
                if (getMessage(6, sources) != expected) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}
