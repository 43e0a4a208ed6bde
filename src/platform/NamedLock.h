#pragma once

#include <string>
#include <system_error>

namespace talvern::platform {

/// A machine-wide named lock held for the life of the object: an exclusive advisory lock on
/// "<runtime directory>/<name>.lock". A "Global\" prefix of the name is dropped.
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
};

}  // namespace talvern::platform
