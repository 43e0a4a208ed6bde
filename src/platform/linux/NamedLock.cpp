#include "platform/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Paths.h"

namespace talvern::platform {

NamedLock::~NamedLock() { release(); }

std::string NamedLock::pathFor(const std::string& name) {
    std::string plain = name;
    const std::string global = "Global\\";
    if (plain.rfind(global, 0) == 0) {
        plain.erase(0, global.size());
    }
    for (char& c : plain) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return runtimeDir() + "/" + plain + ".lock";
}

bool NamedLock::create(const std::string& name, std::error_code& ec) {
    ec.clear();
    release();
    std::string path = pathFor(name);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        ec = std::error_code(errno, std::generic_category());
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ec = std::error_code(errno, std::generic_category());
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void NamedLock::release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool NamedLock::existsHeldByOther(const std::string& name) {
    std::string path = pathFor(name);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace talvern::platform
