#pragma once

#include <system_error>

namespace talvern::rpc {

class general_category : public std::error_category {
public:
    const char* name() const noexcept override { return "general_category"; }
    std::string message(int code) const override;
};

class inner_category : public std::error_category {
public:
    const char* name() const noexcept override { return "inner_category"; }
    std::string message(int code) const override;
};

const std::error_category& generalCategory();
const std::error_category& innerCategory();

/// Codes of the general category.
enum class general_errc {
    ok = 0,
    specific_exception = 1,
    unknown_exception = 2,
    parameter_invalid = 3,
    timeout = 4,
    not_found = 5,
    system_api_failed = 6,
    thread_start_failed = 7
};

/// Codes of the inner category.
enum class inner_errc {
    unspecified = -1,
    not_found = -2,
    unimplemented = -3,
    http_status = -4,
    no_method = -5,
    json_format = -6,
    null_pointer = -7,
    sign_error = -8,
    local_component = -9,
    illegal_parameter = -10,
    bad_cast = -11
};

std::error_code make_error_code(general_errc code);
std::error_code make_error_code(inner_errc code);

}  // namespace talvern::rpc
