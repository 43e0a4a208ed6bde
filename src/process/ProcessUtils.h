#pragma once

// Process operations of the launch modes: starting a command line in the logged-on user's session,
// enumerating processes, terminating them by id, by image name among one's children or by command line,
// and reading a process's command line. Every operation logs its failures and reports them through its
// result; none throws. They keep no state and may be called from any thread.

#include <cstdint>
#include <functional>
#include <string>

namespace talvern::process {

/// Starts the command line in the active user's session, as that user when the agent runs as root,
/// otherwise under the agent's own credentials. With wait, waits for the process and logs its exit code.
/// The command line is split like a shell would, without command substitution. True when it started.
bool startwithCurrentUser(const std::string& cmdLine, bool wait = false);

namespace detail {

/// Whether an enumeration goes on.
enum class CTRL_SEMENTIC { CONTINUE, STOP };

/// One process of an enumeration.
struct ProcessEntry {
    std::uint32_t pid = 0;
    std::uint32_t parentPid = 0;
    std::string imageName;  ///< file name of the executable (the kernel's command name when unreadable)
};

using EnumCallback = std::function<CTRL_SEMENTIC(const ProcessEntry& entry)>;

/// Starts the command line in a new session. With useUserToken it runs as the active session's user when
/// the agent is root; otherwise, or when no user session exists, under the agent's own credentials.
bool startProcess(const std::string& cmdLine, bool useUserToken, bool wait);

/// Calls the callback for every process until it answers STOP. False when the process list is unreadable.
bool enumProcess(const EnumCallback& callback);

/// The process's command line: its arguments joined by single spaces, the program reduced to its file
/// name. Empty when it cannot be read (a vanished process, a kernel thread).
std::string getProcessCommandLine(std::uint32_t pid);

/// A command line in the form used for comparisons: words separated by single spaces, the program (the
/// first word, without surrounding quotes) reduced to its file name.
std::string normalizeCommandLine(const std::string& cmdLine);

}  // namespace detail

namespace windows {

/// Terminates the process at once. For the agent's own process the loggers are flushed and the process
/// ends with exitCode.
bool killProcess(std::uint32_t pid, int exitCode = 0);

/// Terminates every child of parentPid whose image name equals name exactly. False when the process list
/// was unreadable or a matching child could not be terminated.
bool killSameNameChildProc(const std::string& name, std::uint32_t parentPid);

/// Terminates every other process whose normalised command line equals the normalised target; the result
/// says which processes were terminated and which could not be.
std::string terminateProcessByCmdLine(const std::string& cmdLine);

}  // namespace windows
}  // namespace talvern::process

namespace talvern::utilities::windows {

/// The privilege to act on other users' processes. Root already holds what these operations need; a
/// non-root agent can act only on its own user's processes, which is logged as a warning.
struct enableSeDebugPrivilege {
    static void init();
};

}  // namespace talvern::utilities::windows
