#pragma once

#include <functional>
#include <string>

namespace talvern {

/// Entries of the system hosts file (platform::hostsFilePath()): the agent makes its loopback host name
/// resolve to 127.0.0.1. The file is only ever appended to.
class Hosts {
public:
    /// True when the hosts file maps domain to ip after the call: the mapping was there, or it was appended.
    static bool addHost(const std::string& ip, const std::string& domain);
};

/// Tries addHost on the process-wide timer 5 ms from now, retrying up to ten failures in the life of the
/// process; callback hears the outcome once, on the timer's thread.
void addHostAndCallback(const std::string& ip, const std::string& domain, std::function<void(bool)> callback);

}  // namespace talvern
