#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

// One instance per user log-on. The first start holds a lock file in the user's runtime
// folder (a lock whose process has died, say by kill -9, is recognised and taken over)
// and then listens on a local socket there; a later start that cannot take the lock
// asks the holder, through that socket, to show its window (command 32790) and ends.
// The holder reads a short message from each connection and drops a connection that
// sends more, or stays open longer than a later start needs.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kServerName = "ID_NVR_FW_STRELVANE_CLOSE_PROCESS";
    static constexpr const char* kShowCommand = "32790";

    // `runtimeFolder`: where the lock and the socket live (the user's runtime folder).
    explicit CSingleInstance(QString runtimeFolder);
    ~CSingleInstance() override;

    // Takes the lock; true when this is the only instance, which then listens for
    // later starts. The lock is taken before the socket is touched, so two starts at
    // the same moment never both become the first.
    bool TryBecomeFirst();

    // A later start: asks the running instance to show itself. Waits at most
    // `timeoutMs` for the first instance to listen (it may be starting up too); false
    // when it could not be reached.
    bool AskFirstToShow(int timeoutMs) const;

    // The user's runtime folder, $XDG_RUNTIME_DIR, when it is the user's own and closed to
    // others; otherwise a folder "strelvane/runtime" that the program makes (0700) under
    // the user's state folder, else under the cache folder; empty when neither can be
    // had (the instance then runs without looking for others).
    static QString DefaultRuntimeFolder();

signals:
    void ShowRequested();

private:
    void OnConnection();

    const QString folder_;
    std::unique_ptr<QLockFile> lock_;
    int connections_ = 0;  // open at this moment; outlives the server's sockets
    QLocalServer server_;
};
