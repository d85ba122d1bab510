// One instance per user: later starts of the real program against an instance held by
// this test (or by another program process), in a private runtime folder.
#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "settings/settings.h"
#include "ui/single_instance.h"
#include "ui_sandbox.h"

namespace {

QString RuntimeFolder() { return qEnvironmentVariable("XDG_RUNTIME_DIR"); }

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
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QCoreApplication app(argc, argv);
    SingleInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "single_instance_test.moc"
