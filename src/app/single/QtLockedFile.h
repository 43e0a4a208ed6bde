#pragma once

#include <QFile>

namespace QtLP_Private {

/// A file with an advisory whole-file lock (flock), shared or exclusive, blocking or not.
class QtLockedFile : public QFile {
public:
    enum LockMode { NoLock = 0, ReadLock, WriteLock };
    /// Where the lock files of single-instance guards live: 0 the system temporary directory (per
    /// session), 1 the shared data directory (machine-wide).
    enum LockScope { SessionScope = 0, MachineScope = 1 };

    QtLockedFile();
    explicit QtLockedFile(const QString& name);
    ~QtLockedFile() override;

    bool open(OpenMode mode) override;

    /// Takes the lock; with block false returns false at once when another holder has it.
    bool lock(LockMode mode, bool block = true);
    bool unlock();
    bool isLocked() const { return m_lockMode != NoLock; }
    LockMode lockMode() const { return m_lockMode; }

private:
    LockMode m_lockMode = NoLock;
};

}  // namespace QtLP_Private

using QtLP_Private::QtLockedFile;
