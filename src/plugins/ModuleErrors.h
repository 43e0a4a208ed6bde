#pragma once

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

const std::error_category& moduleCategory();
const std::error_category& moduleLoadErrorCategory();

std::error_code make_error_code(module_errc code);
std::error_code make_error_code(module_load_errc code);

}  // namespace talvern::details
