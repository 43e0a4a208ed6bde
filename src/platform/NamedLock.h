#pragma once

#include <string>
#include <system_error>

namespace talvern::platform {

/// True when path still names the open file fd. A lock file is removed by its last holder while it holds
/// it: whoever locked the removed file after that holds nothing and must open the name again.
bool fileStillNamed(int fd, const std::string& path);

/// A machine-wide named lock held for the life of the object: an exclusive advisory lock on
/// "<runtime directory>/<name>.lock", whose file goes with the lock. A "Global\" prefix of the name is
/// dropped.
class NamedLock {
public:
    NamedLock() = default;
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    /// Creates and takes the lock; false (with the error) when another process holds it or the file fails.
    bool create(const std::string& name, std::error_code& ec);
    void release();
    bool held() const { return m_fd >= 0; }

    /// True when the lock file exists and another process holds its lock.
    static bool existsHeldByOther(const std::string& name);
    /// The file that stands for the name.
    static std::string pathFor(const std::string& name);

private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace talvern::platform
