// The notices the program gives the desktop: a text from the firmware server (a series
// name) reaches the notification service as text, never as markup.
#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "ui/tray.h"
#include "ui_sandbox.h"

// The desktop's notification service, as this test's private session bus carries it.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList Summaries;
    QStringList Bodies;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        Summaries << summary;
        Bodies << body;
        return 1;
    }
};

class TrayTest : public QObject {
    Q_OBJECT
private slots:
    void aNoticeBodyArrivesWithItsMarkupEscaped() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) QSKIP("no private session bus (dbus-daemon is not installed)");
        NotificationService service;
        QVERIFY(bus.registerService("org.freedesktop.Notifications"));
        QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &service,
                                   QDBusConnection::ExportAllSlots));
        CTray tray(QIcon(), nullptr);
        const std::pair<QString, QString> notices[] = {
            {"<a href=\"http://198.51.100.7/\">S3</a><img src=\"x\"> has been downloaded",
             "&lt;a href=\"http://198.51.100.7/\"&gt;S3&lt;/a&gt;&lt;img src=\"x\"&gt; has been "
             "downloaded"},
            {"R&D 4 > 3 has been downloaded", "R&amp;D 4 &gt; 3 has been downloaded"},
            {"New firmware available", "New firmware available"},
        };
        for (const auto& [text, body] : notices) tray.ShowBalloon("<b>Information</b>", text, 1000);
        QTRY_COMPARE(service.Bodies.size(), 3);
        // The bus may hand a process's calls to itself over in another order.
        QStringList expected;
        for (const auto& notice : notices) expected << notice.second;
        QStringList bodies = service.Bodies;
        bodies.sort();
        expected.sort();
        QCOMPARE(bodies, expected);
        // A summary is plain text to notification services: it goes as it is.
        QCOMPARE(service.Summaries[0], QString("<b>Information</b>"));
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    // A session bus of this test's own, so that no desktop of the machine is notified.
    QProcess daemon;
    const QString program = QStandardPaths::findExecutable("dbus-daemon");
    if (!program.isEmpty()) {
        daemon.start(program, {"--session", "--nofork", "--nopidfile", "--print-address",
                               "--address=unix:path=" + sandbox.Path("bus")});
        if (daemon.waitForReadyRead(10000)) {
            qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
        }
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TrayTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    daemon.kill();
    daemon.waitForFinished(5000);
    return result;
}

#include "tray_test.moc"
