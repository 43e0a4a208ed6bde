#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace talvern {

/// The local time a dump is named after.
struct DumpTime {
    int year;  ///< full year, e.g. 2024
    int month;
    int day;
    int hour;
    int minute;
    int second;
    int millisecond;
};

/// "[prefix_]YY.MM.DD.HH.MM.SS.mmm.dmp", e.g. "oKavelCore_24.01.02.13.45.06.123.dmp".
std::string dumpFileName(const std::string& prefix, const DumpTime& time);

/// A UTC offset (seconds east of UTC) and the moment (seconds since the epoch) from which it holds.
struct UtcOffsetChange {
    std::int64_t since;
    long offsetSeconds;
};

/// The offsets in force from `from` over the next `days` days: the first holds at `from`, each later one
/// from the second the offset changes (daylight saving). offsetAt gives the offset of a moment; sampling
/// is every six hours, so changes closer together than that are missed.
std::vector<UtcOffsetChange> utcOffsetChanges(std::int64_t from, int days,
                                              const std::function<long(std::int64_t)>& offsetAt);

/// The offset of `at` in a list made by utcOffsetChanges (its first offset before the list starts).
/// Async-signal-safe: the crash handler names the dump with it.
long utcOffsetAt(const UtcOffsetChange* changes, std::size_t count, std::int64_t at);

/// "<dump base>/<stem of argv[0]>/".
std::string dumpDirectoryFor(const char* argv0);

/// The part of argv[2] after its last "/" when there are more than two arguments, otherwise empty.
std::string dumpPrefixFor(int argc, char** argv);

/// Keeps the five newest files of the dump directory and deletes the rest, oldest first.
void adjustDumpFiles(const std::string& dumpDir);

/// Installs the crash handler for SIGSEGV, SIGBUS, SIGFPE and SIGILL. On a crash it writes one dump file
/// (signal, fault address, raw stack; also the memory map when "debug/debug" exists under the dump base),
/// keeps fewer than five files in the directory, and ends the process with status 0.
bool installCrashHandler(int argc, char** argv);

}  // namespace talvern
