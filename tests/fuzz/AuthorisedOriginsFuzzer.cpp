// Feeds arbitrary text to the authorised-origins file. The first line is the address a page presents,
// the rest is the file. The check must always run on a readable file, answer the same from what it read
// as from a fresh read, and ignore case as it promises.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

#include "harness/FuzzSandbox.h"
#include "websecurity/HttpSecure.h"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = text.find('\n');
    const std::string address = newline == std::string::npos ? text : text.substr(0, newline);
    const std::string file = newline == std::string::npos ? std::string() : text.substr(newline + 1);
    // A fresh object per input: a rewrite within one time-stamp tick would look unchanged to a kept one.
    talvern::HttpSecure secure(talvern::fuzz::FuzzSandbox::instance().write("authorizedUrls.json", file));
    std::error_code error;
    const bool authorised = secure.isAuthorizdUrl(address, error, true);
    require(!error);
    require(secure.isAuthorizdUrl(address, error, false) == authorised && !error);
    std::string upper = address;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    require(secure.isAuthorizdUrl(upper, error, false) == authorised && !error);
    return 0;
}
