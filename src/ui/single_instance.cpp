#include "ui/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include "base/trace.h"

CSingleInstance::CSingleInstance(QString runtimeFolder) : folder_(std::move(runtimeFolder)) {
    connect(&server_, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
}

CSingleInstance::~CSingleInstance() { server_.close(); }

QString CSingleInstance::DefaultRuntimeFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

bool CSingleInstance::TryBecomeFirst() {
    QDir().mkpath(folder_);
    lock_ = std::make_unique<QLockFile>(QDir(folder_).filePath("strelvane.lock"));
    // Never stale by age: only a lock whose process has gone is taken over.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    // The lock is ours, so a socket file left here can only be a dead instance's.
    const QString name = QDir(folder_).filePath(kServerName);
    QLocalServer::removeServer(name);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(name)) {
        Trace("FWStrelvane - Cannot listen for later starts: %s\n",
              server_.errorString().toUtf8().constData());
    }
    return true;
}

bool CSingleInstance::AskFirstToShow(int timeoutMs) const {
    const QString name = QDir(folder_).filePath(kServerName);
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(qMax<qint64>(deadline.remainingTime(), 1))) {
            socket.write(kShowCommand);
            socket.write("\n");
            const bool sent =
                socket.waitForBytesWritten(qMax<qint64>(deadline.remainingTime(), 100));
            socket.disconnectFromServer();
            return sent;
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(50);
    }
}

void CSingleInstance::OnConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine().trimmed() == kShowCommand) emit ShowRequested();
            }
        });
    }
}
