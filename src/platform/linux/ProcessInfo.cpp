#include "platform/ProcessInfo.h"

#include <pwd.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace talvern::platform {

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
