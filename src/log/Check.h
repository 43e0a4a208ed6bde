#pragma once

// Fatal checks for programming errors. A failed check builds a report (expression, file, line,
// function, message and call stack), logs it, and hands it to the handler of its level:
//   0    writes it to the configured stream (standard output by default)
//   100  writes it to standard output
//   200  asks on the console: ignore, ignore forever, ignore all, debug or abort
//   300  throws std::runtime_error carrying the report
//   1000 reports on standard error and in the log, then aborts (argument and state checks)
// A level without a handler uses the handler of level 200. Untrusted input never reaches a check.
//
//     OKV_ENSURE(m_sdpService == nullptr, "m_sdpService should be null");

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>

namespace talvern::check {

inline constexpr int kLevelStream = 0;
inline constexpr int kLevelStdout = 100;
inline constexpr int kLevelPrompt = 200;
inline constexpr int kLevelThrow = 300;
inline constexpr int kLevelEnsure = 1000;

/// Per call site state: "ignore forever" silences one check.
struct CheckSite {
    std::atomic<bool> ignoredForever{false};
};

/// The text of a failed check.
std::string buildReport(const char* expression, const char* file, unsigned line, const char* function,
                        const std::string& message, const std::string& stack);

/// Handles a failed check at the given level. Returns normally when the failure is ignored.
void fail(int level, CheckSite& site, const char* expression, const char* file, unsigned line,
          const char* function, const std::string& message);

/// Where level 0 writes (standard output when null). For tests and embedding.
void setReportStream(std::ostream* stream);
/// Where level 200 reads its answer (standard input when null); an unreadable stream ignores.
void setConsoleInput(std::istream* stream);
/// Replaces what "abort" and "break into the debugger" do (tests run them without dying).
void setFatalActions(std::function<void()> abortAction, std::function<void()> debugAction);
/// Forgets "ignore all".
void resetIgnoreAll();

}  // namespace talvern::check

#define OKV_CHECK_AT(level, expr, message)                                                               \
    do {                                                                                                 \
        if (!(expr)) {                                                                                   \
            static ::talvern::check::CheckSite okvCheckSite_;                                            \
            ::talvern::check::fail(level, okvCheckSite_, #expr, __FILE__, __LINE__, __PRETTY_FUNCTION__, \
                                   message);                                                             \
        }                                                                                                \
    } while (false)

/// An argument or state check: a failure aborts the process.
#define OKV_ENSURE(expr, message) OKV_CHECK_AT(::talvern::check::kLevelEnsure, expr, message)

/// The same check, leaving the function with the given value (none for void) when the failure is ignored
/// rather than going on with what failed it.
#define OKV_ENSURE_OR_RETURN(expr, message, ...)                                                             \
    do {                                                                                                     \
        if (!(expr)) {                                                                                       \
            static ::talvern::check::CheckSite okvCheckSite_;                                                \
            ::talvern::check::fail(::talvern::check::kLevelEnsure, okvCheckSite_, #expr, __FILE__, __LINE__, \
                                   __PRETTY_FUNCTION__, message);                                            \
            return __VA_ARGS__;                                                                              \
        }                                                                                                    \
    } while (false)
