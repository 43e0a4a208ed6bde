#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>
#include <wordexp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "log/Log.h"
#include "process/ProcessUtils.h"

namespace talvern::process {
namespace {

constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

// The logind session whose user the command runs for.
struct UserSession {
    std::string id;
    uid_t uid = 0;
    std::string display;
};

std::string takeString(char* value) {
    std::string text = value != nullptr ? value : "";
    std::free(value);
    return text;
}

// The first active session of class "user", else the active session of seat0. No session is not an
// error: the caller then starts the command under its own credentials. A logind failure is returned in ec.
std::optional<UserSession> activeUserSession(std::error_code& ec) {
    ec.clear();
    char** sessions = nullptr;
    int count = sd_get_sessions(&sessions);
    if (count < 0) {
        ec = std::error_code(-count, std::generic_category());
        return std::nullopt;
    }
    std::optional<UserSession> found;
    for (int i = 0; i < count; ++i) {
        const char* id = sessions[i];
        if (!found && sd_session_is_active(id) > 0) {
            char* sessionClass = nullptr;
            uid_t uid = 0;
            if (sd_session_get_class(id, &sessionClass) >= 0 && takeString(sessionClass) == "user" &&
                sd_session_get_uid(id, &uid) >= 0) {
                found = UserSession{id, uid, {}};
            }
        }
        std::free(sessions[i]);
    }
    std::free(sessions);
    if (!found) {
        char* session = nullptr;
        uid_t uid = 0;
        if (sd_seat_get_active("seat0", &session, &uid) >= 0 && session != nullptr) {
            found = UserSession{takeString(session), uid, {}};
        }
    }
    if (found) {
        char* display = nullptr;
        if (sd_session_get_display(found->id.c_str(), &display) >= 0) {
            found->display = takeString(display);
        }
    }
    return found;
}

// Who the command runs as, and with which environment.
struct Credentials {
    bool switchUser = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::vector<std::string> environment;
};

bool lookUpUser(uid_t uid, passwd& entry, std::vector<char>& buffer, std::error_code& ec) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.assign(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd* result = nullptr;
    int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
    if (rc != 0 || result == nullptr) {
        ec = std::error_code(rc != 0 ? rc : ENOENT, std::generic_category());
        return false;
    }
    return true;
}

bool userGroups(const passwd& user, std::vector<gid_t>& groups, std::error_code& ec) {
    int count = 32;
    for (int attempt = 0; attempt < 4; ++attempt) {
        groups.assign(static_cast<std::size_t>(count), 0);
        int wanted = count;
        if (::getgrouplist(user.pw_name, user.pw_gid, groups.data(), &wanted) >= 0) {
            groups.resize(static_cast<std::size_t>(wanted));
            return true;
        }
        count = wanted > count ? wanted : count * 2;
    }
    ec = std::error_code(ENOSPC, std::generic_category());
    return false;
}

std::vector<std::string> sessionEnvironment(const passwd& user, const std::string& display) {
    std::vector<std::string> environment{
        std::string("HOME=") + user.pw_dir,
        std::string("USER=") + user.pw_name,
        std::string("LOGNAME=") + user.pw_name,
        std::string("SHELL=") +
            (user.pw_shell != nullptr && *user.pw_shell != '\0' ? user.pw_shell : "/bin/sh"),
    };
    const char* path = std::getenv("PATH");
    environment.push_back(std::string("PATH=") + (path != nullptr && *path != '\0' ? path : kDefaultPath));
    std::string runtimeDir = "/run/user/" + std::to_string(user.pw_uid);
    struct stat info {};
    if (::stat(runtimeDir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        environment.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
    }
    if (!display.empty()) {
        environment.push_back("DISPLAY=" + display);
    }
    return environment;
}

// The words of a command line as a shell would split it, without running command substitutions.
bool splitCommandLine(const std::string& cmdLine, std::vector<std::string>& words, int& error) {
    wordexp_t expanded{};
    error = ::wordexp(cmdLine.c_str(), &expanded, WRDE_NOCMD);
    if (error != 0) {
        if (error == WRDE_NOSPACE) {
            ::wordfree(&expanded);
        }
        return false;
    }
    words.assign(expanded.we_wordv, expanded.we_wordv + expanded.we_wordc);
    ::wordfree(&expanded);
    return !words.empty();
}

const char* wordexpMessage(int error) {
    switch (error) {
        case 0:
            return "empty command line";
        case WRDE_BADCHAR:
            return "illegal character (newline, |, &, ;, <, >, (, ), {, }) in the command line";
        case WRDE_CMDSUB:
            return "command substitution is not allowed";
        case WRDE_SYNTAX:
            return "syntax error (unbalanced quotes or parentheses)";
        case WRDE_BADVAL:
            return "undefined variable";
        case WRDE_NOSPACE:
            return "out of memory";
        default:
            return "cannot split the command line";
    }
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void reportToParent(int channel, int error) {
    ssize_t ignored = ::write(channel, &error, sizeof(error));
    (void)ignored;
}

// Runs in the forked child; only async-signal-safe calls from here on.
[[noreturn]] void becomeCommand(const Credentials& credentials, char* const argv[], char* const envp[],
                                int channel) {
    for (int sig = 1; sig < NSIG; ++sig) {
        ::signal(sig, SIG_DFL);
    }
    // The agent blocks signals for its signal thread; the command starts with none blocked. The raw call
    // keeps instrumented builds (sanitizer runtimes wrap sigprocmask) from keeping their own mask.
    sigset_t none;
    ::sigemptyset(&none);
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, _NSIG / 8);
    ::setsid();
    if (credentials.switchUser && (::setgroups(credentials.groups.size(), credentials.groups.data()) != 0 ||
                                   ::setgid(credentials.gid) != 0 || ::setuid(credentials.uid) != 0)) {
        reportToParent(channel, errno);
        ::_exit(127);
    }
    ::execvpe(argv[0], argv, envp);
    reportToParent(channel, errno);
    ::_exit(127);
}

// Starts the command; with detach the command is started from an intermediate child so that it is
// adopted by init and never stays a zombie of the agent. Returns the pid waited for, or -1 with ec.
pid_t spawn(const Credentials& credentials, std::vector<std::string>& words, bool detach, int& execError,
            std::error_code& ec) {
    std::vector<std::string> environment = credentials.environment;
    std::vector<char*> argv = pointersTo(words);
    std::vector<char*> envp = pointersTo(environment);
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        ec = std::error_code(errno, std::generic_category());
        return -1;
    }
    pid_t child = ::fork();
    if (child < 0) {
        ec = std::error_code(errno, std::generic_category());
        ::close(channel[0]);
        ::close(channel[1]);
        return -1;
    }
    if (child == 0) {
        ::close(channel[0]);
        if (detach) {
            pid_t grandchild = ::fork();
            if (grandchild < 0) {
                reportToParent(channel[1], errno);
                ::_exit(127);
            }
            if (grandchild > 0) {
                ::_exit(0);
            }
        }
        becomeCommand(credentials, argv.data(), envp.data(), channel[1]);
    }
    ::close(channel[1]);
    // The channel closes without data once the command is running (close-on-exec).
    execError = 0;
    ssize_t got = 0;
    do {
        got = ::read(channel[0], &execError, sizeof(execError));
    } while (got < 0 && errno == EINTR);
    ::close(channel[0]);
    if (got <= 0) {
        execError = 0;
    }
    if (detach) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return child;
}

}  // namespace

namespace detail {

bool startProcess(const std::string& cmdLine, bool useUserToken, bool wait) {
    OKV_LOG_TAG_INFO("Tag null", "start process:{}", cmdLine);

    std::error_code ec;
    std::optional<UserSession> session = activeUserSession(ec);
    if (ec) {
        OKV_LOG_ERROR("{}; Reason: error code:{}, error message:{}", "get session id failed", ec.value(),
                      ec.message());
    }
    OKV_LOG_INFO("user session id:{}", session ? session->id : std::string("none"));

    Credentials credentials;
    passwd user{};
    std::vector<char> userBuffer;
    bool haveUser = false;
    if (useUserToken && session) {
        OKV_LOG_INFO("start process with current user token");
        if (::geteuid() != 0) {
            ec = std::error_code(EPERM, std::generic_category());
        } else if (lookUpUser(session->uid, user, userBuffer, ec) &&
                   userGroups(user, credentials.groups, ec)) {
            haveUser = true;
            credentials.switchUser = true;
            credentials.uid = user.pw_uid;
            credentials.gid = user.pw_gid;
        }
        if (!haveUser) {
            OKV_LOG_ERROR("query user token for session {} failed; Reason: error code:{}, error message:{}",
                          session->id, ec.value(), ec.message());
        }
    }
    if (!haveUser) {
        // The agent's own credentials, in a session of its own.
        OKV_LOG_INFO("start process with system token");
        if (!lookUpUser(::geteuid(), user, userBuffer, ec)) {
            OKV_LOG_ERROR("{}; Reason: {}", "getSessionEnv fail", "CreateEnvironmentBlock fail");
            return false;
        }
    }
    credentials.environment = sessionEnvironment(user, session ? session->display : std::string());

    std::vector<std::string> words;
    int splitError = 0;
    if (!splitCommandLine(cmdLine, words, splitError)) {
        OKV_LOG_ERROR("CreateProcessAsUser:{} failed; Reason: error code:{}, error message:{}", cmdLine,
                      splitError, wordexpMessage(splitError));
        return false;
    }

    OKV_LOG_INFO("CreateProcessAsUser begin:{}", cmdLine);
    int execError = 0;
    pid_t child = spawn(credentials, words, !wait, execError, ec);
    if (child < 0 || execError != 0) {
        std::error_code reason = child < 0 ? ec : std::error_code(execError, std::generic_category());
        OKV_LOG_ERROR("CreateProcessAsUser:{} failed; Reason: error code:{}, error message:{}", cmdLine,
                      reason.value(), reason.message());
        if (child > 0 && wait) {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }
        return false;
    }
    if (wait) {
        int status = 0;
        pid_t waited = 0;
        do {
            waited = ::waitpid(child, &status, 0);
        } while (waited < 0 && errno == EINTR);
        if (waited < 0) {
            int error = errno;
            OKV_LOG_ERROR("GetExitCodeProcess:{} failed; Reason: error code:{}, error message:{}", cmdLine,
                          error, std::strerror(error));
        } else {
            // A command ended by a signal reports 128 + the signal, as shells do.
            int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            OKV_LOG_INFO("ExitCode:{}", exitCode);
        }
    }
    OKV_LOG_INFO("CreateProcessAsUser:{} success", cmdLine);
    return true;
}

}  // namespace detail

bool startwithCurrentUser(const std::string& cmdLine, bool wait) {
    bool started = detail::startProcess(cmdLine, true, wait);
    if (!started) {
        OKV_LOG_ERROR("start process with current user fail,app:{}", cmdLine);
    }
    return started;
}

}  // namespace talvern::process
