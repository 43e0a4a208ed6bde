#pragma once

#include <system_error>

namespace talvern::process {

/// Errors of the environment provider (process and host information).
class envprovider_category : public std::error_category {
public:
    const char* name() const noexcept override { return "envprovider_category"; }
    std::string message(int code) const override;
};

const std::error_category& envProviderCategory();

/// "get process path failed"
inline constexpr int kGetProcessPathFailed = -65521;

}  // namespace talvern::process
