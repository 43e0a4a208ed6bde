#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace talvern::platform {

/// The session of the current process: its logind session name, or the number of its POSIX session
/// when logind knows none.
bool currentSessionId(std::string& id, std::error_code& ec);

/// The name of the effective user.
bool currentUserName(std::string& name, std::error_code& ec);

/// The current process id.
int currentProcessId();

/// Calls `visit` with the id of every process the system shows, until it returns false. 0, or the error
/// number when the process list cannot be read at all.
int forEachProcessId(const std::function<bool(std::uint32_t pid)>& visit);

}  // namespace talvern::platform
