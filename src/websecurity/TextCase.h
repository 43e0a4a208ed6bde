#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace talvern::security {

/// ASCII lower case (paths, origins): other bytes are kept as they are.
inline std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace talvern::security
