#include "app/single/QtSingleCoreApplication.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

#include <filesystem>

#include "platform/NamedLock.h"
#include "platform/Paths.h"
#include "platform/ProcessInfo.h"

namespace {

const QByteArray kAck = "ack";
constexpr int kHeaderSize = 4;
constexpr quint32 kMaxMessage = 64 * 1024;

QString sessionSuffix() {
    std::string session;
    std::error_code ec;
    if (!talvern::platform::currentSessionId(session, ec)) {
        return {};
    }
    bool numeric = false;
    qulonglong value = QString::fromStdString(session).toULongLong(&numeric);
    return numeric ? QString::number(value, 16) : QString::fromStdString(session);
}

}  // namespace

QString QtSingleCoreApplication::lockFileName(const QString& id, QtLockedFile::LockScope scope,
                                              const QString& lockDir) {
    QString key = id;
    QString prefix = id;
    if (key.isEmpty()) {
        key = QString::fromStdString(talvern::platform::executablePath()).toLower();
        prefix = key.section(QLatin1Char('/'), -1);
    }
    QByteArray utf8 = key.toUtf8();
    QString name = QStringLiteral("sapp-") + prefix + QLatin1Char('-') +
                   QString::number(qChecksum(utf8.constData(), static_cast<uint>(utf8.size())), 16);
    if (scope == QtLockedFile::SessionScope) {
        QString session = sessionSuffix();
        if (!session.isEmpty()) {
            name += QLatin1Char('-') + session;
        }
    }
    name += QStringLiteral("-lockfile");
    QString dir = scope == QtLockedFile::SessionScope ? QDir::tempPath() : lockDir;
    if (dir.isEmpty()) {
        return name;
    }
    return QDir::fromNativeSeparators(QDir(dir).filePath(name));
}

QString QtSingleCoreApplication::serverNameFor(const QString& id) {
    // Socket paths are short (108 bytes), so the id is hashed.
    QByteArray digest = QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
    return QString::fromStdString(talvern::platform::runtimeDir()) + QStringLiteral("/sapp-") +
           QString::fromLatin1(digest) + QStringLiteral(".sock");
}

QtSingleCoreApplication::QtSingleCoreApplication(const QString& id, int& argc, char** argv,
                                                 QtLockedFile::LockScope scope, const QString& lockDir)
    : QCoreApplication(argc, argv), m_id(id), m_lockFilePath(lockFileName(id, scope, lockDir)) {
    QFileInfo info(m_lockFilePath);
    QDir().mkpath(info.absolutePath());
    m_lockFile.setFileName(m_lockFilePath);
    m_lockFile.open(QIODevice::ReadWrite);
}

QtSingleCoreApplication::~QtSingleCoreApplication() {
    if (m_server) {
        m_server->close();
    }
    // The last holder removes the lock file while it holds it, so no stale file stays behind; a query
    // that created the file for nothing takes the free lock and removes it too.
    if (m_lockFile.isOpen() && (m_lockFile.isLocked() || m_lockFile.lock(QtLockedFile::WriteLock, false)) &&
        talvern::platform::fileStillNamed(m_lockFile.handle(), m_lockFilePath.toStdString())) {
        QFile::remove(m_lockFilePath);
    }
}

bool QtSingleCoreApplication::isRunning() {
    if (m_lockFile.isLocked()) {
        return false;
    }
    if (!m_lockFile.isOpen() && !m_lockFile.open(QIODevice::ReadWrite)) {
        return true;  // the lock file cannot even be opened: behave as if someone else guards it
    }
    if (!m_lockFile.lock(QtLockedFile::WriteLock, false)) {
        return true;
    }
    if (!talvern::platform::fileStillNamed(m_lockFile.handle(), m_lockFilePath.toStdString())) {
        // The master before us removed the file as it left: the lock of the new file is the one that counts.
        m_lockFile.unlock();
        m_lockFile.close();
        return isRunning();
    }
    // This process is the master now: a socket left by a master that died is stale.
    QString name = serverNameFor(m_id);
    QLocalServer::removeServer(name);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        qWarning("QtSingleCoreApplication: listen on %s failed: %s", qPrintable(name),
                 qPrintable(m_server->errorString()));
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &QtSingleCoreApplication::receiveConnection);
    return false;
}

void QtSingleCoreApplication::receiveConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Messages are a 4-byte big-endian length and UTF-8 text; the master answers "ack".
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray buffered = socket->property("okavelBuffer").toByteArray() + socket->readAll();
            if (buffered.size() < kHeaderSize) {
                socket->setProperty("okavelBuffer", buffered);
                return;
            }
            quint32 length = qFromBigEndian<quint32>(buffered.constData());
            if (length > kMaxMessage) {
                socket->abort();
                return;
            }
            if (static_cast<quint32>(buffered.size() - kHeaderSize) < length) {
                socket->setProperty("okavelBuffer", buffered);
                return;
            }
            QString message = QString::fromUtf8(buffered.mid(kHeaderSize, static_cast<int>(length)));
            socket->setProperty("okavelBuffer", QByteArray());
            socket->write(kAck);
            socket->flush();
            emit messageReceived(message);
        });
    }
}

bool QtSingleCoreApplication::sendMessage(const QString& message, int timeoutMs) {
    if (!isRunning()) {
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    auto remaining = [&] { return std::max(0, timeoutMs - static_cast<int>(clock.elapsed())); };

    QLocalSocket socket;
    bool connected = false;
    // The master may be starting up: try again until the time is spent.
    while (!connected && remaining() > 0) {
        socket.connectToServer(serverNameFor(m_id));
        connected = socket.waitForConnected(std::min(remaining(), 500));
        if (!connected) {
            QThread::msleep(50);
        }
    }
    if (!connected) {
        return false;
    }
    QByteArray payload = message.toUtf8();
    QByteArray frame(kHeaderSize, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    frame += payload;
    socket.write(frame);
    if (!socket.waitForBytesWritten(remaining())) {
        return false;
    }
    QByteArray answer;
    while (answer.size() < kAck.size() && remaining() > 0) {
        if (!socket.waitForReadyRead(remaining())) {
            break;
        }
        answer += socket.readAll();
    }
    socket.disconnectFromServer();
    return answer.startsWith(kAck);
}
