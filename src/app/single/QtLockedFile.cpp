#include "app/single/QtLockedFile.h"

#include <sys/file.h>

#include <cerrno>

namespace QtLP_Private {

QtLockedFile::QtLockedFile() = default;

QtLockedFile::QtLockedFile(const QString& name) : QFile(name) {}

QtLockedFile::~QtLockedFile() {
    if (isOpen()) {
        unlock();
    }
}

bool QtLockedFile::open(OpenMode mode) {
    if (mode & QIODevice::Truncate) {
        qWarning("QtLockedFile::open(): Truncate mode not allowed.");
        return false;
    }
    return QFile::open(mode);
}

bool QtLockedFile::lock(LockMode mode, bool block) {
    if (!isOpen() || mode == NoLock) {
        return mode == NoLock ? unlock() : false;
    }
    if (mode == m_lockMode) {
        return true;
    }
    int operation = (mode == ReadLock ? LOCK_SH : LOCK_EX) | (block ? 0 : LOCK_NB);
    int rc;
    do {
        rc = ::flock(handle(), operation);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return false;
    }
    m_lockMode = mode;
    return true;
}

bool QtLockedFile::unlock() {
    if (!isOpen()) {
        return false;
    }
    if (!isLocked()) {
        return true;
    }
    if (::flock(handle(), LOCK_UN) != 0) {
        return false;
    }
    m_lockMode = NoLock;
    return true;
}

}  // namespace QtLP_Private
