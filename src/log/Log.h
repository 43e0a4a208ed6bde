#pragma once

// The program's logging convention: every line carries its level, a tag, the qualified name of the
// function that wrote it and its source line; messages are fmt-formatted. A failing logger prints on
// standard error and never stops the program.
//
//     OKV_LOG_INFO("init {} finished", name);
//     OKV_LOG_TAG_ERROR("common", "{}; Reason: {}", what, why);

#include <fmt/format.h>

#include <string>
#include <string_view>
#include <utility>

namespace talvern::log {

enum class Level : int { trace = 0, debug = 1, info = 2, warn = 3, err = 4, critical = 5 };

/// The tag of the program's own lines.
inline constexpr const char* kDefaultTag = "oKavelAgent";

/// True when the main logger would write a line of this level now.
bool shouldLog(Level level) noexcept;

/// Writes one formatted line to the main logger; reports a logger failure on standard error.
void write(Level level, const char* tag, const char* function, unsigned line,
           std::string_view message) noexcept;

/// "talvern::sdp::SdpAgentController::start" from a compiler's pretty function signature.
std::string qualifiedFunctionName(std::string_view prettyFunction);

/// Formats a message for a log line; a bad format prints its error on standard error.
template <typename... Args>
void writef(Level level, const char* tag, const char* function, unsigned line,
            fmt::format_string<Args...> format, Args&&... args) noexcept {
    std::string message;
    try {
        message = fmt::format(format, std::forward<Args>(args)...);
    } catch (const std::exception& e) {
        message = std::string("log format failed: ") + e.what();
    } catch (...) {
        message = "log format failed";
    }
    write(level, tag, function, line, message);
}

}  // namespace talvern::log

// The qualified function name is worked out once per call site.
#define OKV_LOG_AT(level, tag, ...)                                                             \
    do {                                                                                        \
        if (::talvern::log::shouldLog(level)) {                                                 \
            static const std::string okvLogFunction_ =                                          \
                ::talvern::log::qualifiedFunctionName(__PRETTY_FUNCTION__);                     \
            ::talvern::log::writef(level, tag, okvLogFunction_.c_str(), __LINE__, __VA_ARGS__); \
        }                                                                                       \
    } while (false)

#define OKV_LOG_TAG_TRACE(tag, ...) OKV_LOG_AT(::talvern::log::Level::trace, tag, __VA_ARGS__)
#define OKV_LOG_TAG_DEBUG(tag, ...) OKV_LOG_AT(::talvern::log::Level::debug, tag, __VA_ARGS__)
#define OKV_LOG_TAG_INFO(tag, ...) OKV_LOG_AT(::talvern::log::Level::info, tag, __VA_ARGS__)
#define OKV_LOG_TAG_WARN(tag, ...) OKV_LOG_AT(::talvern::log::Level::warn, tag, __VA_ARGS__)
#define OKV_LOG_TAG_ERROR(tag, ...) OKV_LOG_AT(::talvern::log::Level::err, tag, __VA_ARGS__)
#define OKV_LOG_TAG_CRITICAL(tag, ...) OKV_LOG_AT(::talvern::log::Level::critical, tag, __VA_ARGS__)

#define OKV_LOG_TRACE(...) OKV_LOG_TAG_TRACE(::talvern::log::kDefaultTag, __VA_ARGS__)
#define OKV_LOG_DEBUG(...) OKV_LOG_TAG_DEBUG(::talvern::log::kDefaultTag, __VA_ARGS__)
#define OKV_LOG_INFO(...) OKV_LOG_TAG_INFO(::talvern::log::kDefaultTag, __VA_ARGS__)
#define OKV_LOG_WARN(...) OKV_LOG_TAG_WARN(::talvern::log::kDefaultTag, __VA_ARGS__)
#define OKV_LOG_ERROR(...) OKV_LOG_TAG_ERROR(::talvern::log::kDefaultTag, __VA_ARGS__)
#define OKV_LOG_CRITICAL(...) OKV_LOG_TAG_CRITICAL(::talvern::log::kDefaultTag, __VA_ARGS__)
