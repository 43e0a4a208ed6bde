#include "catalogue/MessageCatalogue.h"

#include "catalogue/Configuration.h"
#include "platform/UiLanguage.h"

namespace talvern::utilities {
namespace {

constexpr const char* kUnknownChinese = "未知错误";
constexpr const char* kUnknownEnglish = "Unknown error";

std::map<std::int32_t, CatalogueEntry> buildCatalogue() {
    std::map<std::int32_t, CatalogueEntry> catalogue;
    for (std::size_t i = 0; i < kCatalogueTableSize; ++i) {
        catalogue.emplace(kCatalogueTable[i].code, kCatalogueTable[i]);
    }
    return catalogue;
}

// Built during static initialisation; a look-up from an earlier initialiser builds it first.
[[maybe_unused]] const auto& kBuiltBeforeMain = messageCatalogue();

}  // namespace

LanguageSources LanguageSources::system() {
    return {
        [](const std::string& key, std::string& value) { return Configuration().readKeyVaule(key, value); },
        &platform::userDefaultUiLanguage};
}

const std::map<std::int32_t, CatalogueEntry>& messageCatalogue() {
    static const std::map<std::int32_t, CatalogueEntry> catalogue = buildCatalogue();
    return catalogue;
}

int currentLanguage(const LanguageSources& sources) {
    std::string lang;
    if (sources.readKey && sources.readKey("lang", lang)) {
        return lang == "zh-CN" ? platform::kLanguageChinese : platform::kLanguageEnglish;
    }
    if (sources.systemLanguage) {
        return sources.systemLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                      : platform::kLanguageEnglish;
    }
    return platform::kLanguageEnglish;
}

std::string getMessage(std::int32_t code, const LanguageSources& sources) {
    const auto& catalogue = messageCatalogue();
    auto found = catalogue.find(code);
    const bool chinese = currentLanguage(sources) == platform::kLanguageChinese;
    if (found == catalogue.end()) {
        return chinese ? kUnknownChinese : kUnknownEnglish;
    }
    return chinese ? found->second.chinese : found->second.english;
}

}  // namespace talvern::utilities
