#pragma once

#include <QCoreApplication>
#include <QString>

#include <memory>

#include "app/single/QtLockedFile.h"

class QLocalServer;

/// A QCoreApplication of which one instance per id runs: the first one (the master) holds a lock file
/// and listens on a local socket; later ones find the lock taken and may send the master a text message.
class QtSingleCoreApplication : public QCoreApplication {
    Q_OBJECT

public:
    /// lockDir is where the lock file lies (see lockFileName); an empty lockDir means the working directory.
    QtSingleCoreApplication(const QString& id, int& argc, char** argv, QtLockedFile::LockScope scope,
                            const QString& lockDir);
    ~QtSingleCoreApplication() override;

    /// True when another process is the master. Otherwise this process becomes the master (if it is not
    /// already) and false is returned.
    bool isRunning();
    /// Sends message to the master and waits up to timeoutMs for its acknowledgement.
    bool sendMessage(const QString& message, int timeoutMs = 5000);
    QString id() const { return m_id; }

    /// The local socket a master of this id listens on (in the runtime directory).
    static QString serverNameFor(const QString& id);
    /// "sapp-<prefix>-<crc16 of id>[-<session>]-lockfile" in lockDir (scope 1) or the temporary
    /// directory (scope 0); prefix is the id, or for an empty id the file name of the application path.
    static QString lockFileName(const QString& id, QtLockedFile::LockScope scope, const QString& lockDir);

signals:
    void messageReceived(const QString& message);

private:
    void receiveConnection();

    QString m_id;
    QString m_lockFilePath;
    QtLockedFile m_lockFile;
    std::unique_ptr<QLocalServer> m_server;
};
