#include "platform/UiLanguage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
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

TEST(UiLanguage, OnlyLocalesBeginningWithZhAreChinese) {
    for (const char* locale : {"zh_CN.UTF-8", "zh", "zh_TW"}) {
        EXPECT_EQ(languageOfLocale(locale), kLanguageChinese) << locale;
    }
    for (const char* locale : {"z", "ZH_CN", "en_US.UTF-8", "C", ""}) {
        EXPECT_EQ(languageOfLocale(locale), kLanguageEnglish) << locale;
    }
}

TEST(UiLanguage, LocaleOfAnotherProcess) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child execs with its own environment, then blocks until the parent kills it.
        ::close(ready[0]);
        ::fcntl(ready[1], F_SETFD, FD_CLOEXEC);
        char* const argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
        char* const envp[] = {const_cast<char*>("LANG=en_US"), const_cast<char*>("LC_MESSAGES=zh_CN.GBK"),
                              nullptr};
        ::execve("/bin/sleep", argv, envp);
        ::_exit(127);
    }
    ::close(ready[1]);
    char byte;
    // The write end closes on exec, so this read returns once the new environment is in place.
    ASSERT_EQ(::read(ready[0], &byte, 1), 0);
    ::close(ready[0]);
    EXPECT_EQ(processMessagesLocale(child), "zh_CN.GBK");
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(processMessagesLocale(-1), "");
}

TEST(UiLanguage, WithoutALoginSessionTheAgentsEnvironmentDecides) {
    std::error_code ec;
    if (!std::filesystem::is_empty("/run/systemd/sessions", ec) && !ec) {
        GTEST_SKIP() << "a login manager runs here; the active session's user decides";
    }
    ::setenv("LC_ALL", "zh_CN.UTF-8", 1);
    EXPECT_EQ(userDefaultUiLanguage(), kLanguageChinese);
    ::setenv("LC_ALL", "en_GB.UTF-8", 1);
    EXPECT_EQ(userDefaultUiLanguage(), kLanguageEnglish);
    ::unsetenv("LC_ALL");
}
