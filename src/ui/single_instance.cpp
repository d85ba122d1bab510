#include "ui/single_instance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include "base/trace.h"
#include "settings/xdg_folders.h"

CSingleInstance::CSingleInstance(QString runtimeFolder) : folder_(std::move(runtimeFolder)) {
    connect(&server_, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
}

CSingleInstance::~CSingleInstance() { server_.close(); }

namespace {

// A message is a command number and a line end; anything longer is not one of ours.
constexpr qint64 kMessageBytes = 64;
// A later start says what it has to say at once; a connection that lingers is dropped.
constexpr int kConnectionLifeMs = 3000;
// Later starts come one at a time; more connections than this at once are refused.
constexpr int kMostConnections = 8;

// A folder that only this user can enter, made with its parents when missing; false when
// it cannot be had (another user's, a link, open to others and not ours to close).
bool MakePrivateFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), error);
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        return false;
    }
    return (st.st_mode & 077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

// What the XDG base directory rules ask of the runtime folder: ours, a folder,
// entered by nobody else.
bool IsPrivateFolder(const std::string& folder) {
    struct stat st {};
    return !folder.empty() && folder[0] == '/' && ::stat(folder.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

QString CSingleInstance::DefaultRuntimeFolder() {
    const std::string runtime = qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString();
    if (IsPrivateFolder(runtime)) return QString::fromStdString(runtime);
    // Never the current folder nor a shared one such as /tmp: two starts from different
    // places, or another user's folder, would make two first instances.
    for (const std::string& base : {StateHome(), CacheHome()}) {
        const std::string folder = base + "/strelvane/runtime";
        if (MakePrivateFolder(folder)) return QString::fromStdString(folder);
    }
    return QString();
}

bool CSingleInstance::TryBecomeFirst() {
    if (folder_.isEmpty()) {
        // Nowhere private to meet later starts: this one runs, but alone it cannot tell.
        Trace("FWStrelvane - No private runtime folder; later starts are not detected");
        return true;
    }
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
        if (++connections_ > kMostConnections) {
            socket->abort();
            continue;
        }
        connect(socket, &QObject::destroyed, this, [this] { --connections_; });
        // The socket buffers no more than a message: a sender of endless bytes is held
        // back by the kernel until it is dropped here, not stored.
        socket->setReadBufferSize(kMessageBytes);
        QTimer::singleShot(kConnectionLifeMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine(kMessageBytes).trimmed() == kShowCommand) emit ShowRequested();
            }
            if (socket->bytesAvailable() >= kMessageBytes) socket->abort();
        });
    }
}
