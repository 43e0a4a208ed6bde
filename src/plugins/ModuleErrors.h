#pragma once

#include <string>
#include <system_error>

namespace talvern::details {

/// Why a library did not become a module.
enum class module_errc {
    lack_of_constructor = 1,
    lack_of_destructor = 2,
    interface_mismatch = 3,
    already_loaded = 4
};

/// Why a path was not even loaded.
enum class module_load_errc { filtered = -1 };

class module_category : public std::error_category {
public:
    const char* name() const noexcept override { return "module category"; }
    std::string message(int code) const override;
};

class module_load_error_category : public std::error_category {
public:
    const char* name() const noexcept override { return "module_load_error_category"; }
    std::string message(int code) const override;
};

/// The system library loader's own words ("…: invalid ELF header"): it gives a text, not a number, so
/// each distinct text becomes one value of this category.
class library_loader_category : public std::error_category {
public:
    const char* name() const noexcept override { return "library loader"; }
    std::string message(int code) const override;
};

const std::error_category& moduleCategory();
const std::error_category& libraryLoaderCategory();
/// The code whose message is `loaderMessage`.
std::error_code makeLoaderError(const std::string& loaderMessage);
const std::error_category& moduleLoadErrorCategory();

std::error_code make_error_code(module_errc code);
std::error_code make_error_code(module_load_errc code);

}  // namespace talvern::details
