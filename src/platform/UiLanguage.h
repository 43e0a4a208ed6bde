#pragma once

#include <string>
#include <string_view>

// The user interface language of the person at the machine.
namespace talvern::platform {

/// Language codes of the display-language choice: Chinese and English; no other value is produced.
inline constexpr int kLanguageChinese = 1;
inline constexpr int kLanguageEnglish = 3;

/// The language of the active session's user: LC_ALL, LC_MESSAGES or LANG of that session's leader
/// process; when no session is active, its environment cannot be read or sets none of them, the
/// agent's own. A locale beginning with "zh" gives kLanguageChinese, anything else kLanguageEnglish.
int userDefaultUiLanguage();

/// The locale an environment block (NUL-separated "NAME=value" entries, as in /proc/<pid>/environ)
/// selects for messages: the first non-empty of LC_ALL, LC_MESSAGES and LANG; empty when none is set.
std::string messagesLocale(std::string_view environmentBlock);

/// The messages locale of a running process, from /proc/<pid>/environ; empty when it cannot be read.
std::string processMessagesLocale(long pid);

/// kLanguageChinese for a locale beginning with "zh", else kLanguageEnglish.
int languageOfLocale(std::string_view locale);

}  // namespace talvern::platform
