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

/// The port that serviceName publishes in "<directory>/var/run/<serviceName>" for the first directory of
/// processName that holds a valid one (1 to 65535, digits only). 0 with ec set when none does; what was
/// skipped and why is written to standard error, the port found to standard output.
std::uint16_t lookupServicePort(const std::string& processName, const std::string& serviceName,
                                std::error_code& ec,
                                const std::function<std::vector<std::string>(const std::string&)>&
                                    directoriesOf = runningProcessDirectories);

}  // namespace talvern::sdp
