#include "support/ReadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace talvern::utilities {
namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

// Closes the descriptor on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

bool readWholeFile(const std::string& path, std::string& content, std::error_code& ec) {
    ec.clear();
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        ec = lastError();
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        ec = lastError();
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        ec = std::make_error_code(std::errc::is_a_directory);
        return false;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ec = lastError();
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    content = std::move(text);
    return true;
}

}  // namespace talvern::utilities
