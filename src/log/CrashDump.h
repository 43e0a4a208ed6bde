#pragma once

#include <string>

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
