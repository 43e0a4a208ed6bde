#pragma once

#include <string>
#include <system_error>

namespace talvern {

/// The per-user application data directory ("…/Talvern/oKavel/"), created when missing. On failure prints
/// "getAppdataPath fail …" on standard error and returns false.
bool getAppdataPath(std::string& path, std::error_code& ec);

/// Configures the main logger to write "dir/name" at warning level, with the debug mark "debug" in the shared
/// data directory. Prints the chosen directory, name and mark path. Throws what the logger throws.
void initLogNameWithDir(const std::string& name, const std::string& dir, bool consoleOutput,
                        bool flushEveryLine);

/// The debug mark file: "debug" in the shared data directory.
std::string debugMarkPath();

}  // namespace talvern
