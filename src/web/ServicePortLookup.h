#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace talvern::sdp {

/// The directories of the running executables named processName, without repeats: this executable's own
/// first when it has that name, then the others in process-table order.
std::vector<std::string> runningProcessDirectories(const std::string& processName);

/// True for a name that can only mean a file of "var/run": at most 64 characters, none of "/", "\\" or
/// NUL, and not "..". A page chooses the name, so nothing else may ever become part of a path.
bool isServiceNameSafe(const std::string& serviceName);

/// The port that serviceName publishes in "<directory>/var/run/<serviceName>" for the first directory of
/// processName that holds a valid one (1 to 65535, digits only). 0 with ec set when none does; what was
/// skipped and why is written to standard error, the port found to standard output. A name that is not
/// safe (above) is an unknown service: no path is built from it.
std::uint16_t lookupServicePort(const std::string& processName, const std::string& serviceName,
                                std::error_code& ec,
                                const std::function<std::vector<std::string>(const std::string&)>&
                                    directoriesOf = runningProcessDirectories);

}  // namespace talvern::sdp
