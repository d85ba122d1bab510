// The schedule page: entries planned on the upgrade page run against simulated devices
// on this machine and show what happened; Edit, Delete and the double-clicks change the
// entries of the ticked rows in the list and in the file, also after a sort; a second
// window that cannot run the schedule says so and takes it over once the first ends.
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTest>
#include <QUrl>
#include <memory>
#include <set>

#include "schedule/schedule_file.h"
#include "schedule/schedule_list.h"
#include "support/devsim_process.h"
#include "ui/main_window.h"
#include "ui/message_dlg.h"
#include "ui/schedule_page.h"
#include "ui/skin.h"
#include "ui/upgrade_page.h"
#include "ui_sandbox.h"

namespace {

namespace st = schedule_status;

constexpr int kDeviceColumn = 2;
constexpr int kTimeColumn = 5;
constexpr int kStatusColumn = 6;
constexpr int kImageColumn = 7;

QString Cell(CBasicListCtrl& list, int row, int column) {
    return list.model()->index(row, column).data().toString();
}

int RowOfDevice(CBasicListCtrl& list, const QString& device) {
    return list.FindRow(kDeviceColumn, device);
}

void Tick(CBasicListCtrl& list, int row) {
    QVERIFY(list.model()->setData(list.model()->index(row, 0), Qt::Checked, Qt::CheckStateRole));
}

// The row's time cell as the user's locale writes it.
QString LocalTimeCell(int64_t seconds) {
    const QDateTime moment = QDateTime::fromSecsSinceEpoch(seconds);
    return QLocale::system().toString(moment.date(), QLocale::ShortFormat) + " " +
           moment.time().toString("HH:mm:ss");
}

QString WriteImage(const UiSandbox& sandbox, const QString& name, int size) {
    QFile image(sandbox.Path(name));
    image.open(QIODevice::WriteOnly);
    image.write(QByteArray("QRBAversion=2.0.0\n") + QByteArray(size, 'x'));
    return image.fileName();
}

CScheduleInfo Planned(const std::string& device, const std::string& mac, int64_t time,
                      const QString& image) {
    CScheduleInfo entry;
    entry.IP = "127.0.0.1";
    entry.Port = "9";
    entry.Account = "admin";
    entry.Password = "pa&ss";
    entry.Device = device;
    entry.Model = "NVR-1600";
    entry.MAC = mac;
    entry.Version = "1.0.0";
    entry.UpgradeTime = time;
    entry.Status = st::kWaiting;
    entry.FWPath = image.toStdString();
    return entry;
}

// Where the device page would have been opened.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl& url) { Opened << url; }
};

}  // namespace

class SchedulePageTest : public QObject {
    Q_OBJECT
public:
    explicit SchedulePageTest(const UiSandbox& sandbox) : sandbox_(sandbox) {}

private slots:
    void cleanup() { QFile::remove(SchedulePath()); }

    void plannedOnTheUpgradePageRunAndShowWhatHappened() {
        DevsimProcess sim({"--device",
                           "id=SOON,mac=00:00:5E:00:02:01,host_name=soon,https_port=-1,"
                           "reboot_seconds=1,fault=slow_upload:4000000",
                           "--device",
                           "id=LATE,mac=00:00:5E:00:02:02,host_name=late,https_port=-1"});
        MainWindowSetup setup = sandbox_.Setup();
        // A tick every 333 ms: the entry planned 5 s ago has 1.6 s to reach the list.
        setup.TimeScale = 3;
        CMainWindow window(setup);
        const Clock& clock = window.WaitClock();
        CUpgradePage& upgrade = window.UpgradePageWidget();
        QStringList messages;
        QString host;
        int64_t planned = 0;
        upgrade.SetMessenger([&](const QString& text, bool) {
            messages << text;
            return true;
        });
        upgrade.SetPopupRunner([&](CMessageDlg& popup) -> int64_t {
            if (popup.DialogMode() == CMessageDlg::kAddDevice) {
                popup.SetAddress("127.0.0.1", host, "vqmtz");
                popup.Ok();
                QElapsedTimer waited;
                waited.start();
                while (popup.result() != QDialog::Accepted && waited.elapsed() < 10000) {
                    QTest::qWait(20);
                }
                return popup.Result();
            }
            popup.ChooseSchedule();
            popup.SetMoment(QDateTime::fromSecsSinceEpoch(planned));
            popup.Ok();
            return popup.Result();
        });
        CCameraListCtrl& devices = upgrade.DeviceList();
        for (const char* id : {"SOON", "LATE"}) {
            host = QString::number(sim.DeviceById(id).HttpPort);
            upgrade.AddByAddress();
        }
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 2, 10000);
        QVERIFY(upgrade.ChooseImage(WriteImage(sandbox_, "fw.bin", 12 << 20)));

        // One planned 11 s ago (missed), then one 5 s ago (started): each from the popup.
        const auto plan = [&](const QString& device, int64_t secondsAgo) {
            upgrade.CancelAll();
            Tick(devices, RowOfDevice(devices, device));
            planned = clock.UnixSeconds() - secondsAgo;
            upgrade.Upgrade();
            return planned;
        };
        const int64_t late = plan("late", 11);
        const int64_t soon = plan("soon", 5);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));

        window.show();
        window.ShowPage(CMainWindow::kSchedulePage);
        CSchedulePage& page = window.SchedulePageWidget();
        CCameraListCtrl& list = page.List();
        QCOMPARE(list.RowCount(), 2);
        const int lateRow = RowOfDevice(list, "late");
        const int soonRow = RowOfDevice(list, "soon");
        QCOMPARE(Cell(list, lateRow, kTimeColumn), LocalTimeCell(late));
        QCOMPARE(Cell(list, soonRow, kTimeColumn), LocalTimeCell(soon));
        QTRY_COMPARE_WITH_TIMEOUT(Cell(list, lateRow, kStatusColumn), QString("NONE"), 5000);

        // The upload's percentage grows in the status cell, under the red warning.
        const QString uploading = "Uploading file... Please wait a few minutes. (";
        std::set<int> percents;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000) {
            const QString text = Cell(list, soonRow, kStatusColumn);
            if (text == "Successful" || text.startsWith("Failed")) break;
            if (text.startsWith(uploading)) {
                QVERIFY(text.endsWith("%)"));
                percents.insert(text.mid(uploading.size()).chopped(2).toInt());
                QVERIFY(page.WarningShown());
            }
            QTest::qWait(20);
        }
        QVERIFY2(percents.size() >= 3, qPrintable(QString::number(*percents.rbegin())));
        QVERIFY(*percents.rbegin() > *percents.begin());
        QTRY_COMPARE_WITH_TIMEOUT(Cell(list, soonRow, kStatusColumn), QString("Successful"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.WarningShown(), 3000);
        QCOMPARE(Cell(list, lateRow, kStatusColumn), QString("NONE"));

        std::map<std::string, int> saved;
        for (const CScheduleInfo& e : LoadSchedule(SchedulePath().toStdString())) {
            saved[e.Device] = e.Status;
        }
        QCOMPARE(saved,
                 (std::map<std::string, int>{{"late", st::kNone}, {"soon", st::kSuccessful}}));
        const std::string log = sim.Process().ReadRest(std::chrono::milliseconds(300));
        QVERIFY(log.find("upload device=SOON") != std::string::npos);
        QVERIFY(log.find("upload device=LATE") == std::string::npos);
    }

    void editDeleteAndDoubleClicksChangeTheTickedEntries() {
        const QString image = WriteImage(sandbox_, "a.bin", 100);
        const QString other = WriteImage(sandbox_, "b.bin", 100);
        QFile notImage(sandbox_.Path("notes.bin"));
        QVERIFY(notImage.open(QIODevice::WriteOnly));
        notImage.write("notes");
        notImage.close();
        const int64_t tomorrow = QDateTime::currentSecsSinceEpoch() + 86400;
        QVERIFY(SaveSchedule(SchedulePath().toStdString(),
                             {Planned("alpha", "00:00:5E:00:03:01", tomorrow, image),
                              Planned("bravo", "00:00:5E:00:03:02", tomorrow, image),
                              Planned("charlie", "00:00:5E:00:03:03", tomorrow, image)}));
        CMainWindow window(sandbox_.Setup());
        CSchedulePage& page = window.SchedulePageWidget();
        QStringList messages;
        bool answer = false;
        page.SetMessenger([&](const QString& text, bool) {
            messages << text;
            return answer;
        });
        int64_t newTime = 0;
        QString popupImage;
        QString popupShown;
        QString untilShown;
        QString until;
        page.SetPopupRunner([&](CMessageDlg& popup) -> int64_t {
            popupShown = popup.FirmwarePath();
            untilShown = popup.Until();
            popup.SetUntil(until);
            if (!popupImage.isEmpty()) popup.SetFirmwarePath(popupImage);
            popup.SetMoment(QDateTime::fromSecsSinceEpoch(newTime));
            popup.Ok();
            return popup.Result();
        });
        QString chosen;
        page.SetFileChooser([&](const QString&) { return chosen; });
        window.show();
        window.ShowPage(CMainWindow::kSchedulePage);
        CCameraListCtrl& list = page.List();
        QCOMPARE(list.RowCount(), 3);
        const auto saved = [&] {
            std::map<std::string, CScheduleInfo> byDevice;
            for (const CScheduleInfo& e : LoadSchedule(SchedulePath().toStdString())) {
                byDevice[e.Device] = e;
            }
            return byDevice;
        };

        // Nothing ticked: the message, nothing changed.
        page.Edit();
        page.Delete();
        QCOMPARE(messages, QStringList(2, "Please select a device first."));

        // Sorted by name, last first: the rows no longer follow the schedule's order.
        list.HeaderClicked(kDeviceColumn);
        list.HeaderClicked(kDeviceColumn);
        QCOMPARE(Cell(list, 0, kDeviceColumn), QString("charlie"));
        QCOMPARE(Cell(list, 0, 1), QString("1"));

        // Edit with two ticked: both re-timed and waiting, with the window's end the
        // popup gives; the image stays.
        newTime = tomorrow + 3600;
        until = "06:15";
        Tick(list, RowOfDevice(list, "charlie"));
        Tick(list, RowOfDevice(list, "alpha"));
        page.Edit();
        QCOMPARE(popupShown, image);
        QCOMPARE(untilShown, QString());
        QCOMPARE(saved()["charlie"].Until, std::string("06:15"));
        QCOMPARE(saved()["bravo"].Until, std::string());
        QCOMPARE(saved()["charlie"].UpgradeTime, newTime);
        QCOMPARE(saved()["alpha"].UpgradeTime, newTime);
        QCOMPARE(saved()["bravo"].UpgradeTime, tomorrow);
        QCOMPARE(saved()["alpha"].FWPath, image.toStdString());
        QCOMPARE(Cell(list, RowOfDevice(list, "alpha"), kTimeColumn), LocalTimeCell(newTime));
        QCOMPARE(Cell(list, RowOfDevice(list, "alpha"), kStatusColumn), QString("Waiting"));

        // Edit with one ticked takes the popup's image for that entry, not for the
        // entry at the row's place in the schedule.
        list.HeaderClicked(kDeviceColumn);
        list.HeaderClicked(kDeviceColumn);
        Tick(list, RowOfDevice(list, "charlie"));
        popupImage = other;
        until.clear();  // the popup shows the entry's window; unticked, it has none
        page.Edit();
        QCOMPARE(untilShown, QString("06:15"));
        QCOMPARE(saved()["charlie"].Until, std::string());
        QCOMPARE(saved()["charlie"].FWPath, other.toStdString());
        QCOMPARE(saved()["alpha"].FWPath, image.toStdString());
        QCOMPARE(Cell(list, RowOfDevice(list, "charlie"), kImageColumn), other);

        // A double-click on the FW Path re-targets the entry; a file that is no image is
        // refused.
        const int bravo = RowOfDevice(list, "bravo");
        chosen = notImage.fileName();
        emit list.doubleClicked(list.model()->index(bravo, kImageColumn));
        QCOMPARE(messages.takeLast(), QString("Failed! Please check the firmware file."));
        QCOMPARE(saved()["bravo"].FWPath, image.toStdString());
        chosen = other;
        emit list.doubleClicked(list.model()->index(bravo, kImageColumn));
        QCOMPARE(saved()["bravo"].FWPath, other.toStdString());
        QCOMPARE(Cell(list, bravo, kImageColumn), other);

        // Elsewhere it opens the device's page, logged in, the password escaped.
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("http", &catcher, "Open");
        emit list.doubleClicked(list.model()->index(bravo, kStatusColumn));
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(catcher.Opened.size(), 1);
        QVERIFY(catcher.Opened[0].toString().startsWith("http://127.0.0.1:9/login.cgi"));
        QVERIFY(catcher.Opened[0].toString(QUrl::FullyEncoded).contains("userPasswd=pa%26ss"));

        // Delete asks; No keeps both, Yes removes both from the list and the file. An
        // entry whose upgrade runs stays, and the user is told why.
        window.Schedule().Append(Planned("delta", "00:00:5E:00:03:04", tomorrow, image));
        window.Schedule().UpdateEach([](CScheduleInfo& e) {
            if (e.Device == "delta") e.Status = st::kQueued;
            return e.Device == "delta";
        });
        std::vector<CScheduledRun> runs = window.Schedule().StartQueued();
        QCOMPARE(runs.size(), size_t{1});
        page.Refill();
        page.SelectAll();
        page.CancelAll();
        Tick(list, RowOfDevice(list, "alpha"));
        Tick(list, RowOfDevice(list, "charlie"));
        Tick(list, RowOfDevice(list, "delta"));
        answer = false;
        page.Delete();
        QCOMPARE(messages.takeLast(), QString("Is delete select list?"));
        QCOMPARE(list.RowCount(), 4);
        answer = true;
        page.Delete();
        QCOMPARE(messages.takeLast(), QString("Device is upgrading."));
        QCOMPARE(list.RowCount(), 2);
        QVERIFY(RowOfDevice(list, "delta") >= 0);
        QCOMPARE(saved().size(), size_t{2});
        QVERIFY(saved().count("bravo") && saved().count("delta"));
        runs.clear();
    }

    void aSecondWindowSaysAnotherRunsTheScheduleAndTakesItOver() {
        auto first = std::make_unique<CMainWindow>(sandbox_.Setup());
        CMainWindow second(sandbox_.Setup());
        CSchedulePage& page = second.SchedulePageWidget();
        QVERIFY(page.SchedulerRefused());
        auto* prompt = page.findChild<QLabel*>("PromptLabel");
        QVERIFY(prompt && prompt->isVisibleTo(&page));
        QCOMPARE(prompt->text(),
                 QString("Another Strelvane runs this schedule: its upgrades start there."));
        QVERIFY(!first->SchedulePageWidget().SchedulerRefused());
        first.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!page.SchedulerRefused(), 8000);
        QVERIFY(!prompt->isVisibleTo(&page));
    }

private:
    QString SchedulePath() const { return sandbox_.Path("Documents/Strelvane/fw_config.xml"); }

    const UiSandbox& sandbox_;
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    // Far from UTC, so that a time shown in UTC would be seen.
    qputenv("TZ", "Asia/Tokyo");
    QApplication app(argc, argv);
    SchedulePageTest test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "schedule_page_test.moc"
