// One instance per user: later starts of the real program against an instance held by
// this test (or by another program process), in a private runtime folder.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "settings/settings.h"
#include "ui/single_instance.h"
#include "ui_sandbox.h"

namespace {

QString RuntimeFolder() { return qEnvironmentVariable("XDG_RUNTIME_DIR"); }

// This process's resident memory.
long ResidentKilobytes() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

std::unique_ptr<QProcess> StartProgram() {
    auto process = std::make_unique<QProcess>();
    process->setProgram(STRELVANE_GUI_PATH);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start();
    return process;
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void aSecondStartShowsTheFirstUnlessItIsShuttingDown() {
        CSingleInstance first(RuntimeFolder());
        QVERIFY(first.TryBecomeFirst());
        QSignalSpy shown(&first, &CSingleInstance::ShowRequested);

        auto second = StartProgram();
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        QTRY_COMPARE(shown.count(), 1);

        CSettings settings;
        settings.SetExitMode();
        auto third = StartProgram();
        QVERIFY(third->waitForFinished(15000));
        QCOMPARE(third->exitCode(), 0);
        QTest::qWait(300);
        QCOMPARE(shown.count(), 1);
        settings.ClearExitMode();

        // In this process too: the lock is held, so a second holder is refused.
        CSingleInstance again(RuntimeFolder());
        QVERIFY(!again.TryBecomeFirst());
    }

    void aLockLeftByAKilledInstanceIsTakenOver() {
        auto first = StartProgram();
        const QString socket = QDir(RuntimeFolder()).filePath(CSingleInstance::kServerName);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 15000);
        QCOMPARE(first->state(), QProcess::Running);
        ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(5000));
        QVERIFY(QFileInfo::exists(QDir(RuntimeFolder()).filePath("strelvane.lock")));

        CSingleInstance next(RuntimeFolder());
        QVERIFY(next.TryBecomeFirst());
        QSignalSpy shown(&next, &CSingleInstance::ShowRequested);
        QVERIFY(next.AskFirstToShow(2000));
        QTRY_COMPARE(shown.count(), 1);
    }

    void twoStartsAtTheSameMomentGiveOneInstance() {
        auto a = StartProgram();
        auto b = StartProgram();
        // One of them ends (after asking the other to show itself), one stays.
        QTRY_VERIFY_WITH_TIMEOUT(
            a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning, 15000);
        QTest::qWait(1500);
        const int running =
            (a->state() == QProcess::Running ? 1 : 0) + (b->state() == QProcess::Running ? 1 : 0);
        QCOMPARE(running, 1);
        QProcess& survivor = a->state() == QProcess::Running ? *a : *b;
        QProcess& ended = a->state() == QProcess::Running ? *b : *a;
        QCOMPARE(ended.exitCode(), 0);
        survivor.kill();
        QVERIFY(survivor.waitForFinished(5000));
    }

    // Without a runtime folder of its own (unset, another user's, open to others), the
    // program makes a private one under the user's state folder, else the cache folder:
    // never the current folder, never a shared one.
    void anUnusableRuntimeFolderGivesAPrivateFolderOfTheUsersOwn() {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        const QString base = QDir(RuntimeFolder()).filePath("../folders");
        QDir().mkpath(base + "/others");
        QVERIFY(::chown(QFile::encodeName(base + "/others").constData(), 65534, 65534) == 0);
        QDir().mkpath(base + "/open");
        QFile::setPermissions(base + "/open", QFileDevice::Permissions(0x7777));
        QFile file(base + "/a-file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString stateFolder = base + "/state/strelvane/runtime";
        const QString cacheFolder = base + "/cache/strelvane/runtime";
        qputenv("XDG_CACHE_HOME", (base + "/cache").toUtf8());
        struct Case {
            const char* Runtime;  // nullptr: unset
            QString State;
            QString Expected;
        };
        const Case cases[] = {
            {nullptr, base + "/state", stateFolder},
            {"others", base + "/state", stateFolder},
            {"open", base + "/state", stateFolder},
            {"a-file", base + "/state", stateFolder},
            {"relative/runtime", base + "/state", stateFolder},
            {nullptr, base + "/a-file", cacheFolder},  // no state folder can be made
        };
        for (const Case& c : cases) {
            if (c.Runtime) {
                const QString value = QString(c.Runtime).startsWith("relative")
                                          ? QString(c.Runtime)
                                          : base + "/" + c.Runtime;
                qputenv("XDG_RUNTIME_DIR", value.toUtf8());
            } else {
                qunsetenv("XDG_RUNTIME_DIR");
            }
            qputenv("XDG_STATE_HOME", c.State.toUtf8());
            QCOMPARE(CSingleInstance::DefaultRuntimeFolder(), c.Expected);
            QCOMPARE(QFileInfo(c.Expected).permissions() & 0x0077, QFileDevice::Permissions());
        }
        // A folder left open at that place is closed; a link there is not followed.
        QFile::setPermissions(stateFolder, QFileDevice::Permissions(0x7755));
        qputenv("XDG_STATE_HOME", (base + "/state").toUtf8());
        QCOMPARE(CSingleInstance::DefaultRuntimeFolder(), stateFolder);
        QCOMPARE(QFileInfo(stateFolder).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(QDir(stateFolder).removeRecursively());
        QVERIFY(QFile::link("/tmp", stateFolder));
        QCOMPARE(CSingleInstance::DefaultRuntimeFolder(), cacheFolder);
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("XDG_STATE_HOME", state);
        // With its own folder usable again, that one is used.
        QCOMPARE(CSingleInstance::DefaultRuntimeFolder(), RuntimeFolder());
    }

    void twoStartsWithoutARuntimeFolderGiveOneInstance() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("XDG_RUNTIME_DIR");
        QTemporaryDir here;
        QTemporaryDir there;
        std::unique_ptr<QProcess> starts[2];
        const QString folders[] = {here.path(), there.path()};
        for (int i = 0; i < 2; ++i) {
            starts[i] = std::make_unique<QProcess>();
            starts[i]->setProgram(STRELVANE_GUI_PATH);
            starts[i]->setProcessEnvironment(environment);
            starts[i]->setWorkingDirectory(folders[i]);
            starts[i]->setProcessChannelMode(QProcess::ForwardedChannels);
            starts[i]->start();
        }
        QTRY_VERIFY_WITH_TIMEOUT(starts[0]->state() == QProcess::NotRunning ||
                                     starts[1]->state() == QProcess::NotRunning,
                                 15000);
        QTest::qWait(1500);
        const int running = (starts[0]->state() == QProcess::Running ? 1 : 0) +
                            (starts[1]->state() == QProcess::Running ? 1 : 0);
        QCOMPARE(running, 1);
        const QString private_ = qEnvironmentVariable("XDG_STATE_HOME") + "/strelvane/runtime";
        QVERIFY(QFileInfo::exists(private_ + "/strelvane.lock"));
        for (const QString& folder : folders) {
            QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        }
        for (auto& start : starts) {
            start->kill();
            start->waitForFinished(5000);
        }
    }

    // A local client that sends without end, or says nothing, is cut off; the window's
    // memory stays where it was, and the next start is still heard.
    void anEndlessOrSilentSenderIsCutOffWithoutGrowth() {
        const QString folder = QDir(RuntimeFolder()).filePath("../flood");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7700));
        CSingleInstance first(folder);
        QVERIFY(first.TryBecomeFirst());
        QSignalSpy shown(&first, &CSingleInstance::ShowRequested);
        const std::string socketPath =
            QDir(folder).filePath(CSingleInstance::kServerName).toStdString();
        const long before = ResidentKilobytes();

        struct Sender {
            std::atomic<bool> Done{false};
            std::atomic<int64_t> Sent{0};
        } endless, silent;
        auto send = [&socketPath](Sender& sender, int64_t limit) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                const std::string chunk(65536, 'x');
                while (sender.Sent < limit) {
                    const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                    if (n <= 0) break;
                    sender.Sent += n;
                }
                if (limit == 0) {
                    char byte;
                    [[maybe_unused]] ssize_t n = ::recv(fd, &byte, 1, 0);  // until closed
                }
            }
            ::close(fd);
            sender.Done = true;
        };
        std::thread a(send, std::ref(endless), int64_t{256} << 20);
        std::thread b(send, std::ref(silent), 0);
        QTRY_VERIFY_WITH_TIMEOUT(endless.Done && silent.Done, 20000);
        a.join();
        b.join();
        QVERIFY2(endless.Sent < (int64_t{16} << 20), qPrintable(QString::number(endless.Sent)));
        QVERIFY2(ResidentKilobytes() - before < 16 * 1024,
                 qPrintable(QString::number(ResidentKilobytes() - before)));
        QCOMPARE(shown.count(), 0);
        QVERIFY(first.AskFirstToShow(2000));
        QTRY_COMPARE(shown.count(), 1);
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QCoreApplication app(argc, argv);
    SingleInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "single_instance_test.moc"
