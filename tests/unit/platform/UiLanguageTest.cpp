#include "platform/UiLanguage.h"

#include <gtest/gtest.h>
#include <boost/process/child.hpp>
#include <boost/process/env.hpp>
#include <boost/process/environment.hpp>

#include <string>

using namespace talvern::platform;
using namespace std::string_literals;

TEST(UiLanguage, LocaleOfAnEnvironmentBlock) {
    EXPECT_EQ(messagesLocale("HOME=/root\0LANG=zh_CN.UTF-8\0"s), "zh_CN.UTF-8");
    // LC_ALL before LC_MESSAGES before LANG, whatever their order in the block.
    EXPECT_EQ(messagesLocale("LANG=en_US\0LC_MESSAGES=de_DE\0LC_ALL=zh_TW\0"s), "zh_TW");
    EXPECT_EQ(messagesLocale("LANG=en_US\0LC_MESSAGES=de_DE\0"s), "de_DE");
    // Empty values do not count.
    EXPECT_EQ(messagesLocale("LC_ALL=\0LANG=zh_CN\0"s), "zh_CN");
    // The first definition of a name is the one a process sees.
    EXPECT_EQ(messagesLocale("LANG=zh_CN\0LANG=en_US\0"s), "zh_CN");
    // No terminating NUL, junk entries, look-alike names.
    EXPECT_EQ(messagesLocale("JUNK\0XLANG=zh\0LANGUAGE=zh\0LANG=en"s), "en");
    EXPECT_EQ(messagesLocale(""), "");
    EXPECT_EQ(messagesLocale("PATH=/bin\0"s), "");
}
