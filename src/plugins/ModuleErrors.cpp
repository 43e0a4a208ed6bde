#include "plugins/ModuleErrors.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace talvern::details {

std::string module_category::message(int code) const {
    switch (code) {
        case 1:
            return "lack of constructor";
        case 2:
            return "lack of destructor";
        case 3:
            return "interface type mismatched";
        case 4:
            return "library has loaded";
        default:
            return "unknown error";
    }
}

std::string module_load_error_category::message(int code) const {
    return code == -1 ? "dll signature verification failed or was filtered" : "Unknown error";
}

namespace {

// Loader messages seen so far; a code is its message's position plus 1. Bounded: a host loads a fixed
// set of libraries, and a runaway set of texts must not grow without end.
constexpr std::size_t kMaxLoaderMessages = 256;
std::mutex g_loaderMutex;  // guards the loader messages
std::vector<std::string> g_loaderMessages;

}  // namespace

std::string library_loader_category::message(int code) const {
    std::lock_guard lock(g_loaderMutex);
    if (code < 1 || static_cast<std::size_t>(code) > g_loaderMessages.size()) {
        return "the library loader failed";
    }
    return g_loaderMessages[static_cast<std::size_t>(code) - 1];
}

const std::error_category& libraryLoaderCategory() {
    static const library_loader_category category;
    return category;
}

std::error_code makeLoaderError(const std::string& loaderMessage) {
    std::lock_guard lock(g_loaderMutex);
    auto found = std::find(g_loaderMessages.begin(), g_loaderMessages.end(), loaderMessage);
    if (found == g_loaderMessages.end()) {
        if (g_loaderMessages.size() == kMaxLoaderMessages) {
            return {static_cast<int>(kMaxLoaderMessages) + 1, libraryLoaderCategory()};
        }
        found = g_loaderMessages.insert(g_loaderMessages.end(), loaderMessage);
    }
    return {static_cast<int>(found - g_loaderMessages.begin()) + 1, libraryLoaderCategory()};
}

const std::error_category& moduleCategory() {
    static const module_category category;
    return category;
}

const std::error_category& moduleLoadErrorCategory() {
    static const module_load_error_category category;
    return category;
}

std::error_code make_error_code(module_errc code) { return {static_cast<int>(code), moduleCategory()}; }

std::error_code make_error_code(module_load_errc code) {
    return {static_cast<int>(code), moduleLoadErrorCategory()};
}

}  // namespace talvern::details
