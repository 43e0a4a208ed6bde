#pragma once

#include <string>

namespace talvern {

/// The systemd unit of the service, from the one template that the package ships too: description,
/// the executable to start, and its working directory (the executable's own).
std::string serviceUnitText(const std::string& description, const std::string& executable,
                            const std::string& workingDirectory);

}  // namespace talvern
