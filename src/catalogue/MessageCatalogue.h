#pragma once

// The numbered user messages in the display language:
//
//     std::string body = talvern::utilities::getMessage(6);   // "Invalid request." or "请求非法"
//
// The display language is worked out on every look-up: the "lang" member of localConfig.json
// ("zh-CN" exactly gives Chinese, any other value English), else the language of the user at the
// active session. Nothing is cached, so editing the file changes the next look-up.

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "catalogue/CatalogueTable.h"

namespace talvern::utilities {

/// Where the display language comes from. The defaults are the agent's configuration file and the
/// system; tests replace them.
struct LanguageSources {
    /// Reads one member of the local configuration.
    std::function<bool(const std::string& key, std::string& value)> readKey;
    /// The system's language code (1 Chinese, 3 English).
    std::function<int()> systemLanguage;

    /// The agent's configuration file and the active session's user.
    static LanguageSources system();
};

/// The catalogue: code to entry, built from the constant table before main and never changed.
const std::map<std::int32_t, CatalogueEntry>& messageCatalogue();

/// 1 (Chinese) or 3 (English).
int currentLanguage(const LanguageSources& sources = LanguageSources::system());

/// The text of the message in the current language; "Unknown error" / "未知错误" for a code that does
/// not exist.
std::string getMessage(std::int32_t code, const LanguageSources& sources = LanguageSources::system());

}  // namespace talvern::utilities
