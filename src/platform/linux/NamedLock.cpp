#include "platform/NamedLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

bool fileStillNamed(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

bool NamedLock::create(const std::string& name, std::error_code& ec) {
    ec.clear();
    release();
    std::string path = pathFor(name);
    for (;;) {
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
        if (fileStillNamed(fd, path)) {
            m_fd = fd;
            m_path = path;
            return true;
        }
        ::close(fd);  // the previous holder removed it meanwhile
    }
}

void NamedLock::release() {
    if (m_fd >= 0) {
        ::unlink(m_path.c_str());
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
