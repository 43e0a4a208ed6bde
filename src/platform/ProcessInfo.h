#pragma once

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

}  // namespace talvern::platform
