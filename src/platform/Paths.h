#pragma once

#include <string>
#include <system_error>

// Where the agent keeps its files. Every directory the agent writes to can be moved for tests and
// packaging through an environment variable (see docs/directories.md).
namespace talvern::platform {

/// Full path of the running executable ("/proc/self/exe"); empty when it cannot be read.
std::string executablePath();

/// Directory of the running executable, without a trailing slash.
std::string executableDir();

/// Makes sure XDG_DATA_HOME names an absolute directory: when it is unset or relative, it becomes
/// $HOME/.local/share, is exported and created. Returns the directory, or false with the error.
bool fixUpUserDataHome(std::string& dir, std::error_code& ec);

/// The per-user application data directory "<XDG_DATA_HOME>/Talvern/oKavel/", created when missing.
/// Falls back to "/tmp/Talvern/oKavel/" when XDG_DATA_HOME is not usable. Always ends with '/'.
/// Returns false (with the error) only when the directory cannot be created.
bool applicationDataDir(std::string& dir, std::error_code& ec);

/// The base directory of crash dumps: "<application data directory>Dump/", or "/tmp/Talvern/oKavel/Dump/"
/// when XDG_DATA_HOME is not usable. Not created here. Ends with '/'.
std::string dumpBaseDir();

/// The shared data directory (debug.json, localConfig.json, lock files, the debug mark).
/// $OKAVEL_SHARED_DATA_DIR when set; when the executable is installed under the build's install prefix,
/// empty (relative to the working directory), or the package's state directory (/var/lib/okavel) for a
/// packaged build; otherwise "oKavelAgent" beside the executable's directory.
/// A non-empty result ends with '/'.
bool sharedDataDir(std::string& dir, std::error_code& ec);

/// The runtime directory for sockets, named locks and the pid file, created when missing.
/// $OKAVEL_RUNTIME_DIR, else /run/okavel, else $XDG_RUNTIME_DIR/okavel, else /tmp/okavel-<uid>.
std::string runtimeDir();

/// The system hosts file: $OKAVEL_HOSTS_FILE or "/etc/hosts".
std::string hostsFilePath();

/// The value of an environment variable, or empty.
std::string environment(const char* name);

}  // namespace talvern::platform
