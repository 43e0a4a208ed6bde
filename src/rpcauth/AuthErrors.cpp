#include "rpcauth/AuthErrors.h"

#include <array>

namespace talvern::rpc {

std::string general_category::message(int code) const {
    static constexpr std::array<const char*, 8> kMessages{
        "ok",      "specific exception",         "unknown exception",      "parameter invalid",
        "timeout", "can not find specific data", "call system api failed", "thread start failed"};
    if (code >= 0 && code < static_cast<int>(kMessages.size())) {
        return kMessages[static_cast<std::size_t>(code)];
    }
    return "unknown error";
}

std::string inner_category::message(int code) const {
    static constexpr std::array<const char*, 11> kMessages{"unspecified error category",
                                                           "Not Found",
                                                           "Unimplemented",
                                                           "Http Response Code Error(not 200)",
                                                           "No corresponding method was found",
                                                           "Json format error",
                                                           "null pointer",
                                                           "sign error",
                                                           "local componet abnormal",
                                                           "Illegal parameter",
                                                           "bad dynamic cast"};
    if (code <= -1 && code >= -static_cast<int>(kMessages.size())) {
        return kMessages[static_cast<std::size_t>(-code - 1)];
    }
    return "Unknown error";
}

const std::error_category& generalCategory() {
    static const general_category category;
    return category;
}

const std::error_category& innerCategory() {
    static const inner_category category;
    return category;
}

std::error_code make_error_code(general_errc code) { return {static_cast<int>(code), generalCategory()}; }
std::error_code make_error_code(inner_errc code) { return {static_cast<int>(code), innerCategory()}; }

}  // namespace talvern::rpc
