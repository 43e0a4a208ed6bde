#include "process/EnvProviderErrors.h"

#include <array>

namespace talvern::process {
namespace {

// Codes -65536 up to -65509, in order.
constexpr std::array<const char*, 28> kNegativeMessages{
    "unkown error",
    "get cpu model failed",
    "get cpu arch failed",
    "get cpu id failed",
    "get host model failed",
    "get host manufacturer failed",
    "get OS type failed",
    "get OS arch failed",
    "get OS version failed",
    "get host name failed",
    "get antivirus failed",
    "get process failed",
    "get netcard failed",
    "get certificate failed",
    "get file description failed",
    "get process path failed",
    "get process info failed",
    "get physical memory info failed",
    "filepath error",
    "get firewall error",
    "get kb package error",
    "get install soft list error",
    "get original file name failed",
    "get product version error",
    "Detect that the current session is a terminal service session failure",
    "unsupport function",
    "bad alloc",
    "bad argument",
};

constexpr int kFirstCode = -65536;

}  // namespace

std::string envprovider_category::message(int code) const {
    if (code >= kFirstCode && code < kFirstCode + static_cast<int>(kNegativeMessages.size())) {
        return kNegativeMessages[static_cast<std::size_t>(code - kFirstCode)];
    }
    switch (code) {
        case -1:
            return "failed";
        case 0:
            return "success";
        case 1:
            return "test";
        default:
            return kNegativeMessages[0];
    }
}

const std::error_category& envProviderCategory() {
    static const envprovider_category category;
    return category;
}

}  // namespace talvern::process
