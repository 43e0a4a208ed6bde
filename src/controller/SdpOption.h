#pragma once

#include <string>

namespace talvern::sdp {

/// The agent's construction record, filled from the command line.
struct SdpOption {
    std::string pluginPath;         ///< value of --plugin, or "plugin-daemon"
    std::string pluginDir;          ///< working directory joined with pluginPath
    bool enableHttp = false;        ///< --enable-http; forced on for "plugins"
    bool enableEventBus = false;    ///< --enable-event-center; forced on for "plugins"
    bool enableEventClient = true;  ///< off for the daemon host
    std::string pluginCmd;          ///< value of --plugin-cmd
    std::string monitorFiles;       ///< value of --monitor-files
};

}  // namespace talvern::sdp
