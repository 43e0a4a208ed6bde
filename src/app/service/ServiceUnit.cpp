#include "app/service/ServiceUnit.h"

namespace talvern {

namespace generated {
const char* serviceUnitTemplate();
}

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// systemd splits ExecStart at blanks unless the word is quoted.
std::string quotedWhenNeeded(const std::string& path) {
    return path.find_first_of(" \t") == std::string::npos ? path : "\"" + path + "\"";
}

}  // namespace

std::string serviceUnitText(const std::string& description, const std::string& executable,
                            const std::string& workingDirectory) {
    std::string text = generated::serviceUnitTemplate();
    replaceAll(text, "@DESCRIPTION@", description);
    replaceAll(text, "@EXEC@", quotedWhenNeeded(executable));
    replaceAll(text, "@WORKDIR@", workingDirectory);
    return text;
}

}  // namespace talvern
