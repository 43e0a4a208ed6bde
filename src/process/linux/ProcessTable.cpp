#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "log/Log.h"
#include "log/Logger.h"
#include "platform/ProcessInfo.h"
#include "process/ProcessUtils.h"

namespace talvern::process {
namespace {

constexpr const char* kDeletedSuffix = " (deleted)";

std::string fileNameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string procPath(std::uint32_t pid, const char* leaf) {
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

bool readWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return !in.bad();
}

// The parent id is the fourth field of /proc/<pid>/stat; the command name before it may hold spaces and
// parentheses, so parsing starts after the last ')'.
bool readParentPid(std::uint32_t pid, std::uint32_t& parent) {
    std::string stat;
    if (!readWholeFile(procPath(pid, "stat"), stat)) {
        return false;
    }
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long long ppid = -1;
    fields >> state >> ppid;
    if (!fields || ppid < 0) {
        return false;
    }
    parent = static_cast<std::uint32_t>(ppid);
    return true;
}

std::string readImageName(std::uint32_t pid) {
    std::vector<char> target(PATH_MAX + 1);
    ssize_t size = ::readlink(procPath(pid, "exe").c_str(), target.data(), target.size() - 1);
    if (size > 0) {
        std::string path(target.data(), static_cast<std::size_t>(size));
        std::size_t suffix = std::strlen(kDeletedSuffix);
        if (path.size() > suffix && path.compare(path.size() - suffix, suffix, kDeletedSuffix) == 0) {
            path.resize(path.size() - suffix);
        }
        return fileNameOf(path);
    }
    std::string comm;
    if (readWholeFile(procPath(pid, "comm"), comm)) {
        while (!comm.empty() && comm.back() == '\n') {
            comm.pop_back();
        }
    }
    return comm;
}

std::uint32_t ownPid() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace

namespace detail {

bool enumProcess(const EnumCallback& callback) {
    bool any = false;
    const int failure = platform::forEachProcessId([&](std::uint32_t pid) {
        ProcessEntry entry;
        entry.pid = pid;
        if (!readParentPid(pid, entry.parentPid)) {
            return true;  // vanished meanwhile
        }
        entry.imageName = readImageName(pid);
        any = true;
        return !(callback && callback(entry) == CTRL_SEMENTIC::STOP);
    });
    if (failure != 0) {
        OKV_LOG_ERROR("{}; Reason: error code:{}, error message:{}", "CreateToolhelp32Snapshot fail", failure,
                      std::strerror(failure));
        return false;
    }
    if (!any) {
        int error = ENOENT;
        OKV_LOG_ERROR("{}; Reason: error code:{}, error message:{}", "Process32First fail", error,
                      std::strerror(error));
        return false;
    }
    return true;
}

std::string getProcessCommandLine(std::uint32_t pid) {
    std::string raw;
    if (!readWholeFile(procPath(pid, "cmdline"), raw)) {
        int error = errno;
        OKV_LOG_DEBUG("read command line of pid {} failed; Reason: error code:{}, error message:{}", pid,
                      error, std::strerror(error));
        return {};
    }
    std::string joined;
    std::size_t start = 0;
    bool first = true;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string::npos) {
            end = raw.size();
        }
        std::string argument = raw.substr(start, end - start);
        if (first) {
            argument = fileNameOf(argument);
            first = false;
        } else {
            joined += ' ';
        }
        joined += argument;
        start = end + 1;
    }
    return joined;
}

std::string normalizeCommandLine(const std::string& cmdLine) {
    // The program may be quoted, as in "/opt/my dir/oKavelAgent" --plugin plugins.
    std::size_t begin = cmdLine.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return {};
    }
    std::string program;
    std::size_t rest = 0;
    std::size_t closing = cmdLine[begin] == '"' ? cmdLine.find('"', begin + 1) : std::string::npos;
    if (closing != std::string::npos) {
        program = cmdLine.substr(begin + 1, closing - begin - 1);
        rest = closing + 1;
    } else {
        rest = cmdLine.find_first_of(" \t\r\n", begin);
        program = cmdLine.substr(begin, rest == std::string::npos ? std::string::npos : rest - begin);
    }
    std::string result = fileNameOf(program);
    if (rest != std::string::npos && rest < cmdLine.size()) {
        std::istringstream words(cmdLine.substr(rest));
        for (std::string word; words >> word;) {
            result += ' ';
            result += word;
        }
    }
    return result;
}

}  // namespace detail

namespace windows {

bool killProcess(std::uint32_t pid, int exitCode) {
    if (pid == ownPid()) {
        // The end of the agent itself: what the loggers hold must reach their files first.
        try {
            Logger::GetInstance().flush();
            CustomLogger::GetInstance().flush();
        } catch (...) {
            // exiting anyway
        }
        ::_exit(exitCode);
    }
    // 0 and values beyond the pid range would address process groups.
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) {
        OKV_LOG_ERROR("{}; Reason: error code:{}, error message:{}", "TerminateProcess fail", EINVAL,
                      std::strerror(EINVAL));
        return false;
    }
    if (::kill(static_cast<pid_t>(pid), SIGKILL) != 0) {
        int error = errno;
        OKV_LOG_ERROR("{}; Reason: error code:{}, error message:{}", "TerminateProcess fail", error,
                      std::strerror(error));
        return false;
    }
    return true;
}

bool killSameNameChildProc(const std::string& name, std::uint32_t parentPid) {
    bool allKilled = true;
    bool listed = detail::enumProcess([&](const detail::ProcessEntry& entry) {
        if (entry.parentPid == parentPid && entry.imageName == name) {
            if (::kill(static_cast<pid_t>(entry.pid), SIGKILL) != 0) {
                int error = errno;
                OKV_LOG_ERROR("Terminate process: {} pid: {} return failed{}", name, entry.pid,
                              std::string(", error code:") + std::to_string(error) +
                                  ", error message:" + std::strerror(error));
                allKilled = false;
            }
        }
        return detail::CTRL_SEMENTIC::CONTINUE;
    });
    return listed && allKilled;
}

std::string terminateProcessByCmdLine(const std::string& cmdLine) {
    const std::string target = detail::normalizeCommandLine(cmdLine);
    if (target.empty()) {
        return "nothing terminated: the command line is empty";
    }
    std::vector<std::uint32_t> terminated;
    std::vector<std::string> failed;
    const std::uint32_t self = ownPid();
    bool listed = detail::enumProcess([&](const detail::ProcessEntry& entry) {
        if (entry.pid == self) {
            return detail::CTRL_SEMENTIC::CONTINUE;
        }
        std::string line = detail::getProcessCommandLine(entry.pid);
        if (line.empty() || detail::normalizeCommandLine(line) != target) {
            return detail::CTRL_SEMENTIC::CONTINUE;
        }
        if (killProcess(entry.pid)) {
            terminated.push_back(entry.pid);
        } else {
            failed.push_back(std::to_string(entry.pid));
        }
        return detail::CTRL_SEMENTIC::CONTINUE;
    });
    if (!listed) {
        return "nothing terminated: the process list cannot be read";
    }
    std::ostringstream result;
    if (terminated.empty() && failed.empty()) {
        result << "no process runs '" << target << "'";
        return result.str();
    }
    result << "terminated " << terminated.size() << " process(es) running '" << target << "'";
    for (std::size_t i = 0; i < terminated.size(); ++i) {
        result << (i == 0 ? ": pid " : ", pid ") << terminated[i];
    }
    if (!failed.empty()) {
        result << "; could not terminate";
        for (std::size_t i = 0; i < failed.size(); ++i) {
            result << (i == 0 ? ": pid " : ", pid ") << failed[i];
        }
    }
    return result.str();
}

}  // namespace windows
}  // namespace talvern::process

namespace talvern::utilities::windows {

void enableSeDebugPrivilege::init() {
    if (::geteuid() == 0) {
        OKV_LOG_DEBUG("running as root: the process operations already have the capabilities they need");
    } else {
        OKV_LOG_WARN("{}; Reason: {}", "the agent is not root",
                     "only processes of its own user can be inspected or terminated");
    }
}

}  // namespace talvern::utilities::windows
