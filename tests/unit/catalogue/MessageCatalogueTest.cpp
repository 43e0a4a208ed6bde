#include "catalogue/MessageCatalogue.h"

#include <gtest/gtest.h>

using namespace talvern::utilities;

namespace {

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

TEST(MessageCatalogue, OneEntryPerCodeInCodeOrderAndSpotTexts) {
    ASSERT_EQ(messageCatalogue().size(), kCatalogueTableSize);  // no code appears twice
    for (std::size_t i = 1; i < kCatalogueTableSize; ++i) {
        EXPECT_LT(kCatalogueTable[i - 1].code, kCatalogueTable[i].code) << i;
    }
    const auto chinese = fixedSources("zh-CN", 3);
    const auto english = fixedSources("en-US", 1);
    EXPECT_EQ(getMessage(37, english),
              "Error will occur while using oKavel if you disable its protection function.");
    EXPECT_EQ(getMessage(37, chinese), "禁用 oKavel 的防护功能后，使用 oKavel 时将会出现错误。");
    EXPECT_EQ(getMessage(0, chinese), "");
    EXPECT_EQ(getMessage(221, english), "Unknown error");  // 221 to 225 are not assigned
    EXPECT_EQ(getMessage(221, chinese), "未知错误");
    EXPECT_EQ(getMessage(0x0A0000B1, fixedSources(nullptr, 3)), "Unknown error");  // retired
    EXPECT_NE(getMessage(0x0A00018F, english), "Unknown error");
}

TEST(MessageCatalogue, OnlyAnExactZhCnOrAChineseSystemWithoutTheKeySelectsChinese) {
    struct Case {
        const char* lang;  // null: no "lang" key
        int systemLanguage;
        int language;
    };
    const Case cases[] = {{"zh-CN", 3, 1},  {"en-US", 1, 3}, {"zh-cn", 1, 3}, {"", 1, 3},
                          {"zh-CN ", 1, 3}, {"zh", 1, 3},    {"zh-TW", 1, 3}, {"ZH-CN", 1, 3},
                          {nullptr, 1, 1},  {nullptr, 3, 3}, {nullptr, 4, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lang ? c.lang : "no key") + ", system " +
                     std::to_string(c.systemLanguage));
        const auto sources = fixedSources(c.lang, c.systemLanguage);
        EXPECT_EQ(currentLanguage(sources), c.language);
        EXPECT_EQ(getMessage(6, sources), c.language == 1 ? "请求非法" : "Invalid request.");
    }
    EXPECT_EQ(currentLanguage(LanguageSources{}), 3);
}
