#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace talvern::process {

/// The full path of a process's executable, or an empty text with code -65521 ("get process path failed")
/// of the environment-provider category. An executable that was deleted or replaced since the process
/// started counts as a failure: its path no longer names the file the process runs.
std::string processpath(std::uint32_t pid, std::error_code& ec);

class ProcInfo {
public:
    static std::string getProcessPath(std::uint32_t pid, std::error_code& ec);
    static bool getProcessPathByPID(std::uint32_t pid, std::string& path);
};

}  // namespace talvern::process
