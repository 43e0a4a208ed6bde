#include "platform/ProcessInfo.h"

#include <dirent.h>
#include <pwd.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace talvern::platform {
namespace {

// A process directory of /proc: digits only, a positive pid_t.
bool parsePid(const char* name, std::uint32_t& pid) {
    unsigned long long value = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || (value = value * 10 + static_cast<unsigned>(*c - '0')) > INT_MAX) {
            return false;
        }
    }
    pid = static_cast<std::uint32_t>(value);
    return pid != 0;
}

}  // namespace

int forEachProcessId(const std::function<bool(std::uint32_t pid)>& visit) {
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) {
        return errno;
    }
    while (dirent* entry = ::readdir(proc.get())) {
        std::uint32_t pid = 0;
        if (parsePid(entry->d_name, pid) && !visit(pid)) {
            break;
        }
    }
    return 0;
}

bool currentSessionId(std::string& id, std::error_code& ec) {
    ec.clear();
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) >= 0 && session != nullptr) {
        id = session;
        std::free(session);
        return true;
    }
    pid_t sid = ::getsid(0);
    if (sid < 0) {
        ec = std::error_code(errno, std::generic_category());
        return false;
    }
    id = std::to_string(sid);
    return true;
}

bool currentUserName(std::string& name, std::error_code& ec) {
    ec.clear();
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pwd {};
    struct passwd* result = nullptr;
    int rc = ::getpwuid_r(::geteuid(), &pwd, buffer.data(), buffer.size(), &result);
    if (rc != 0 || result == nullptr) {
        ec = std::error_code(rc != 0 ? rc : ENOENT, std::generic_category());
        return false;
    }
    name = result->pw_name;
    return true;
}

int currentProcessId() { return static_cast<int>(::getpid()); }

}  // namespace talvern::platform
