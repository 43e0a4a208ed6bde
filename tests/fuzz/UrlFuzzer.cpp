// Feeds arbitrary text to the URL parser. Besides crashes and memory errors it checks what a caller
// relies on after a successful parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/Url.h"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool allDigits(const std::string& text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    talvern::net::Url url(text);
    try {
        url.parse();
    } catch (const talvern::net::Url::parse_error& e) {
        require(e.what()[0] != '\0');
        require(size > 0);
        return 0;
    }
    require(text.size() <= talvern::net::Url::kMaxLength);
    require(allDigits(url.port()));
    require(url.port().empty() || std::stoul(url.port()) <= 65535);
    std::int8_t kind = url.hostKind();
    require(kind >= -1);
    require(kind != -1 || url.host().empty());
    require(url.port().empty() || kind != -1);
    require(url.host().size() <= text.size() && url.path().size() <= text.size());
    for (const auto& [key, value] : url.query()) {
        require(key.size() + value.size() < text.size());
    }
    return 0;
}
