// The upgrade page against simulated devices in a lab (scripts/lab): search, credential
// checks, typed passwords, the Upgrade command's refusals, the popup's Browse, a run to
// its results, Back, the refresh after a scheduled upgrade; seventeen devices at once,
// and a double-click that opens a device's page.
#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "history/history_file.h"
#include "schedule/schedule_file.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "ui/check_commands.h"
#include "ui/main_window.h"
#include "ui/message_dlg.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "ui/upgrade_page.h"
#include "ui_sandbox.h"

namespace {

constexpr int kPasswordColumn = 6;
constexpr int kVersionColumn = 5;
constexpr int kStatusVersionColumn = 4;
constexpr int kStatusColumn = 5;

QString Cell(CBasicListCtrl& list, int row, int column) {
    return list.model()->index(row, column).data().toString();
}

int RowOf(CBasicListCtrl& list, const QString& key) { return list.FindRow(4, key); }

QStringList SortedColumn(CBasicListCtrl& list, int column) {
    QStringList texts;
    for (int row = 0; row < list.RowCount(); ++row) texts << Cell(list, row, column);
    texts.sort();
    return texts;
}

int CountCells(CBasicListCtrl& list, int column, const QString& start) {
    int count = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
        if (Cell(list, row, column).startsWith(start)) ++count;
    }
    return count;
}

QString WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(content);
    return path;
}

// An image the simulated devices take: they come back running `version`.
QString WriteImage(const QString& path, const QByteArray& version) {
    return WriteFile(path, "QRBAversion=" + version + "\n" + QByteArray(40000, 'x'));
}

// Presses the popup's Browse and answers the file dialog it opens with `path`.
void BrowseInPopup(CMessageDlg& popup, const QString& path) {
    QTimer::singleShot(0, &popup, [&popup, path] {
        auto* dialog = popup.findChild<QFileDialog*>();
        if (!dialog) return;
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    });
    popup.findChild<QPushButton*>("UpgradeBrowseButton")->click();
}

// The page's messages go to `messages`; every question is answered Yes.
void CollectMessages(CUpgradePage& page, QStringList& messages) {
    page.SetMessenger([&messages](const QString& text, bool) {
        messages << text;
        return true;
    });
}

// Takes the place of the user's browser.
class BrowserStandIn final : public QObject {
    Q_OBJECT
public:
    BrowserStandIn() {
        for (const char* scheme : {"http", "https"}) {
            QDesktopServices::setUrlHandler(scheme, this, "Open");
        }
    }
    ~BrowserStandIn() override {
        for (const char* scheme : {"http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl& url) { Opened << url; }
};

// Presses OK on the device-entry popup and waits until it has closed or said why not.
int64_t AddDevice(CMessageDlg& popup, const QString& host, const QStringList& messages) {
    const qsizetype said = messages.size();
    popup.SetAddress(host, "80", "vqmtz");
    popup.Ok();
    QElapsedTimer waited;
    waited.start();
    while (popup.result() != QDialog::Accepted && messages.size() == said &&
           waited.elapsed() < 10000) {
        QTest::qWait(20);
    }
    return popup.Result();
}

// Adds the device at 127.0.0.1:`port` through the device-entry popup.
int64_t AddLocalDevice(CMessageDlg& popup, int port, const QString& password) {
    popup.SetAddress("127.0.0.1", QString::number(port), password);
    popup.Ok();
    QElapsedTimer waited;
    waited.start();
    while (popup.result() != QDialog::Accepted && waited.elapsed() < 15000) QTest::qWait(20);
    return popup.Result();
}

// Devices on 127.0.0.1 entered by hand, with every popup confirmed at once.
void AnswerPopups(CUpgradePage& page, const DevsimProcess& sim, const QString& password,
                  const std::string*& adding) {
    page.SetPopupRunner([&sim, password, &adding](CMessageDlg& popup) -> int64_t {
        if (popup.DialogMode() == CMessageDlg::kAddDevice) {
            return AddLocalDevice(popup, sim.DeviceById(*adding).HttpPort, password);
        }
        popup.Ok();
        return popup.Result();
    });
}

void Tick(CBasicListCtrl& list, int row, bool ticked = true) {
    QVERIFY(list.model()->setData(list.model()->index(row, 0), ticked ? Qt::Checked : Qt::Unchecked,
                                  Qt::CheckStateRole));
}

// A worker that takes a moment for its upload and reports the upgrade done.
int QuickUpgrade(UpgradeJob&, const Clock& clock, std::stop_token stop) {
    return clock.SleepMs(1500, stop) ? 0 : -6;
}

}  // namespace

class UpgradePageTest : public QObject {
    Q_OBJECT
public:
    explicit UpgradePageTest(const UiSandbox& sandbox) : sandbox_(sandbox) {}

private slots:
    void searchCheckTypeUpgradeAndBack() {
        if (const std::string why = LabNetwork::Unavailable(); !why.empty()) {
            QSKIP(why.c_str());
        }
        LabNetwork lab({.Devices = 5});
        const std::string common =
            ",http_port=80,https_port=-1,model=NVR-1600,firmware=1.0.0,reboot_seconds=1";
        DevsimProcess sim({"--discovery",  //
                           "--device", "id=GOOD,address=198.18.1.1,mac=00:1C:A1:00:00:01" + common,
                           "--device", "id=OTHER,address=198.18.1.2,password=other" + common,
                           "--device", "id=REJECT,address=198.18.1.3,fault=reject_image" + common},
                          lab.InDevices());
        // Two devices that no search finds, the second with the first one's MAC.
        DevsimProcess unseen(
            {"--device", "id=HAND,address=198.18.1.4,mac=00:1C:A1:00:00:04,host_name=hand" + common,
             "--device", "id=TWIN,address=198.18.1.5,mac=00:1c:a1:00:00:04" + common},
            lab.InDevices());
        ScopedNetns inTech(lab.TechNamespace());
        CMainWindow window(LabSetup());
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        QDateTime planned = QDateTime::currentDateTime().addDays(1);
        planned.setTime(QTime(3, 30, 0));
        bool upgradeNow = false;
        QString typedHost;
        const QString notImagePath = WriteFile(sandbox_.Path("notes.bin"), "just some notes");
        const QString nightImagePath = WriteImage(sandbox_.Path("night.bin"), "2.0.1");
        page.SetPopupRunner([&](CMessageDlg& popup) -> int64_t {
            if (popup.DialogMode() == CMessageDlg::kAddDevice) {
                return AddDevice(popup, typedHost, messages);
            }
            if (popup.PastWarningShown()) return -2;  // the warning must start hidden
            if (upgradeNow) {
                popup.Ok();
                return popup.Result();
            }
            // The popup's Browse refuses a file without a mark and takes another image.
            BrowseInPopup(popup, notImagePath);
            BrowseInPopup(popup, nightImagePath);
            popup.ChooseSchedule();
            popup.SetMoment(planned);
            popup.SetUntil("05:00");
            popup.Ok();
            return popup.Result();
        });
        CollectMessages(page, messages);
        CCameraListCtrl& devices = page.DeviceList();

        page.Search();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 3, 10000);
        const int good = RowOf(devices, "GOOD");
        const int other = RowOf(devices, "OTHER");
        QTRY_COMPARE_WITH_TIMEOUT(Cell(devices, good, kPasswordColumn), QString("Passed"), 10000);
        QCOMPARE(Cell(devices, good, kVersionColumn), QString("1.0.0"));
        QTRY_COMPARE_WITH_TIMEOUT(Cell(devices, other, kVersionColumn), QString("Connect Error"),
                                  10000);

        // Export list saves the devices listed; the one whose log-in failed is not checked.
        const QString site = sandbox_.Path("site.csv");
        page.SetInventoryChooser([&](const QString&) { return site; });
        QTest::mouseClick(page.findChild<QAbstractButton*>("ExportListButton"), Qt::LeftButton);
        QTRY_VERIFY(page.findChild<QMessageBox*>("ExportListDoneMessage"));
        QCOMPARE(page.findChild<QMessageBox*>("ExportListDoneMessage")->text(),
                 QString("The list of 3 devices was saved."));
        page.findChild<QMessageBox*>("ExportListDoneMessage")->close();
        QFile siteFile(site);
        QVERIFY(siteFile.open(QIODevice::ReadOnly));
        const QStringList rows =
            QString::fromUtf8(siteFile.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.filter(",not checked,").size(), 1);

        // A wrong password typed into the row fails the NVR log-in; the right one passes.
        const QModelIndex otherPassword = devices.model()->index(other, kPasswordColumn);
        devices.model()->setData(otherPassword, "wrong", Qt::EditRole);
        QCOMPARE(otherPassword.data().toString(), QString("Connecting"));
        QTRY_COMPARE_WITH_TIMEOUT(otherPassword.data().toString(), QString("Failed"), 10000);
        devices.model()->setData(otherPassword, "other", Qt::EditRole);
        QTRY_COMPARE_WITH_TIMEOUT(otherPassword.data().toString(), QString("Passed"), 10000);

        // The Upgrade command's refusals, each with its message.
        page.Upgrade();
        QCOMPARE(messages.takeLast(), QString("Please select firmware file first."));
        QVERIFY(!page.ChooseImage(notImagePath));
        QCOMPARE(messages.takeLast(), QString("Failed! Please check the firmware file."));
        QVERIFY(page.ChooseImage(WriteImage(sandbox_.Path("fw.bin"), "2.0.0")));
        page.CancelAll();
        page.Upgrade();
        QCOMPARE(messages.takeLast(), QString("Please select a device first."));

        // A device entered by hand gets its row; one with a MAC already entered does not.
        typedHost = "198.18.1.4";
        page.AddByAddress();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 4, 5000);
        typedHost = "198.18.1.5";
        page.AddByAddress();
        QCOMPARE(messages.takeLast(), QString("This MAC is used."));
        QCOMPARE(devices.RowCount(), 4);
        const int hand = RowOf(devices, "00:1C:A1:00:00:04");
        QVERIFY(hand >= 0);
        QCOMPARE(Cell(devices, hand, 2), QString("hand"));

        // Planned for later: one schedule entry per ticked device, saved at once.
        page.SelectAll();
        page.Upgrade();
        QCOMPARE(messages.takeLast(), QString("Failed! Please check the firmware file."));
        const std::string schedulePath =
            sandbox_.Path("Documents/Strelvane/fw_config.xml").toStdString();
        // Saved off the user-interface thread.
        QTRY_COMPARE(LoadSchedule(schedulePath).size(), size_t{4});
        const std::vector<CScheduleInfo> saved = LoadSchedule(schedulePath);
        QCOMPARE(saved.size(), size_t{4});
        QCOMPARE(saved[0].UpgradeTime, planned.toSecsSinceEpoch());
        QCOMPARE(saved[0].FWPath, nightImagePath.toStdString());
        QCOMPARE(saved[0].Until, std::string("05:00"));
        QCOMPARE(saved[3].MAC, std::string("00:1C:A1:00:00:04"));
        // Each entry has the MAC its device named, which its run checks, not the row's key.
        std::set<std::string> macs;
        for (const CScheduleInfo& e : saved) macs.insert(e.MAC);
        QVERIFY(macs.count("00:1C:A1:00:00:01") == 1);
        QVERIFY(macs.count("GOOD") == 0);
        QVERIFY(devices.isVisibleTo(&page));

        upgradeNow = true;
        // With the Setting page's guards on, the question says who starts and who waits;
        // answered No, nothing starts.
        window.Settings().SaveSetting("FirstOfEachModel", "1");
        window.Settings().SaveSetting("MaxFailures", "2");
        QString question;
        page.SetMessenger([&question](const QString& text, bool) {
            question = text;
            return false;
        });
        page.Upgrade();
        QVERIFY(
            question.endsWith("\n\nDevices starting now: 1 of 4 (models: 1).\n"
                              "Waiting for the first device of their model: 3."));
        QVERIFY(devices.isVisibleTo(&page));
        window.Settings().SaveSetting("FirstOfEachModel", "0");
        window.Settings().SaveSetting("MaxFailures", "0");
        CollectMessages(page, messages);
        page.Upgrade();
        QVERIFY(messages.last().contains("around 7 minutes"));
        QVERIFY(messages.takeLast().endsWith("Devices starting now: 4 of 4 (models: 1)."));
        CCameraListCtrl& status = page.StatusList();
        QTRY_COMPARE_WITH_TIMEOUT(status.RowCount(), 4, 10000);
        QVERIFY(!devices.isVisibleTo(&page));
        QTRY_VERIFY_WITH_TIMEOUT(page.IsRunInProgress(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsRunInProgress(), 30000);
        QCOMPARE(Cell(status, RowOf(status, "GOOD"), kStatusColumn),
                 QString("Firmware upgrade successful."));
        QCOMPARE(Cell(status, RowOf(status, "GOOD"), kStatusVersionColumn), QString("2.0.1"));
        QCOMPARE(Cell(status, RowOf(status, "REJECT"), kStatusColumn),
                 QString("Failed! Please check the firmware file."));
        QCOMPARE(Cell(status, RowOf(status, "00:1C:A1:00:00:04"), kStatusColumn),
                 QString("Firmware upgrade successful."));
        // Every outcome is in the history, with the MAC the device named and its versions.
        std::map<std::string, std::string> kept;
        for (const UpgradeHistoryRecord& r :
             ReadHistory(sandbox_.Path("state/strelvane/history.tsv").toStdString())) {
            kept[r.DeviceId] = r.Mac + " " + r.VersionBefore + ">" + r.VersionAfter + " " +
                               std::to_string(r.Code) + " " + r.ImageFile;
        }
        QCOMPARE(kept.size(), size_t{4});
        QCOMPARE(QString::fromStdString(kept["GOOD"]),
                 QString("00:1C:A1:00:00:01 1.0.0>2.0.1 0 night.bin"));
        QCOMPARE(QString::fromStdString(kept["REJECT"]),
                 QString("00:00:00:00:00:00 1.0.0> -406 night.bin"));
        QCOMPARE(QString::fromStdString(kept["00:1C:A1:00:00:04"]),
                 QString("00:1C:A1:00:00:04 1.0.0>2.0.1 0 night.bin"));

        // Back: the device list again, searched anew.
        page.Back();
        QVERIFY(devices.isVisibleTo(&page));
        QCOMPARE(status.RowCount(), 0);
        // The hand-entered device is listed again by the new search.
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 4, 10000);
        // Every check has ended (a search waits for them): the upgraded devices name the
        // night image's version.
        QTRY_COMPARE_WITH_TIMEOUT(SortedColumn(devices, kVersionColumn),
                                  QStringList({"1.0.0", "2.0.1", "2.0.1", "Connect Error"}), 10000);

        // A scheduled upgrade finished while the page was away: shown again, it lists anew.
        window.show();
        window.PostCommand(20);
        QCoreApplication::processEvents();  // the command arrives as a queued call
        window.ShowPage(CMainWindow::kSchedulePage);
        window.ShowPage(CMainWindow::kUpgradePage);
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 0, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 4, 10000);
        window.RequestExit();
        QTRY_VERIFY_WITH_TIMEOUT(window.IsShuttingDown(), 5000);
    }

    void seventeenAtOnceThenOpenTheDevice() {
        if (const std::string why = LabNetwork::Unavailable(); !why.empty()) {
            QSKIP(why.c_str());
        }
        LabNetwork lab({.Devices = 17});
        // Slow uploads (8 s each) keep the first sixteen busy while the last one waits.
        const std::string common =
            ",http_port=80,https_port=-1,model=NVR-1600,firmware=1.0.0,reboot_seconds=1,"
            "fault=slow_upload:5000";
        DevsimProcess sim(
            {"--discovery", "--devices", "15", "id=D{n},address=198.18.1.{n}" + common, "--device",
             "id=D16,address=198.18.1.16,fault=reject_image" + common, "--device",
             "id=D17,address=198.18.1.17,fault=never_back" + common},
            lab.InDevices());
        ScopedNetns inTech(lab.TechNamespace());
        CMainWindow window(LabSetup());
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        CollectMessages(page, messages);
        page.SetPopupRunner([](CMessageDlg& popup) -> int64_t {
            popup.Ok();
            return popup.Result();
        });
        BrowserStandIn browser;
        CCameraListCtrl& devices = page.DeviceList();
        CCameraListCtrl& status = page.StatusList();

        page.Search();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 17, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(CountCells(devices, kPasswordColumn, "Passed"), 17, 20000);
        // A device row opens the device's page in the user's browser, logged in.
        emit devices.doubleClicked(devices.model()->index(RowOf(devices, "D1"), 2));
        QCOMPARE(browser.Opened.size(), 1);
        QCOMPARE(browser.Opened[0].host(), QString("198.18.1.1"));
        QVERIFY(browser.Opened[0].query().contains("userPasswd=vqmtz"));

        QVERIFY(page.ChooseImage(WriteImage(sandbox_.Path("fw.bin"), "2.0.0")));
        page.SelectAll();
        page.Upgrade();
        QTRY_COMPARE_WITH_TIMEOUT(status.RowCount(), 17, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(CountCells(status, kStatusColumn, "Uploading file... ") == 16 &&
                                     CountCells(status, kStatusColumn, "Waiting") == 1,
                                 15000);
        // While a device upgrades, its row only says so.
        emit status.doubleClicked(status.model()->index(0, 1));
        QCOMPARE(messages.takeLast(), QString("Device is upgrading."));
        QCOMPARE(browser.Opened.size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(page.IsRunInProgress(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsRunInProgress(), 60000);
        for (int n = 1; n <= 15; ++n) {
            const int row = RowOf(status, QString("D%1").arg(n));
            QCOMPARE(Cell(status, row, kStatusColumn), QString("Firmware upgrade successful."));
            QCOMPARE(Cell(status, row, kStatusVersionColumn), QString("2.0.0"));
        }
        // A failure never shows a version as if the image were running.
        const int rejected = RowOf(status, "D16");
        QCOMPARE(Cell(status, rejected, kStatusColumn),
                 QString("Failed! Please check the firmware file."));
        QCOMPARE(Cell(status, rejected, kStatusVersionColumn), QString());
        const int away = RowOf(status, "D17");
        QCOMPARE(Cell(status, away, kStatusColumn),
                 QString("Failed! Please check the network connection."));
        QCOMPARE(Cell(status, away, kStatusVersionColumn), QString());
        emit status.doubleClicked(status.model()->index(RowOf(status, "D2"), 1));
        QCOMPARE(browser.Opened.size(), 2);
        QCOMPARE(browser.Opened[1].host(), QString("198.18.1.2"));
        window.RequestExit();
        // D17 is still looked for: Exit asks first, and hands it to the next start.
        for (QMessageBox* box : window.findChildren<QMessageBox*>("ExitLateWatch")) {
            if (box->isVisible()) box->button(QMessageBox::Ok)->click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(window.IsShuttingDown(), 5000);
    }

    // Exit counts a run from its confirmation: pressed while the device is still asked
    // for its model (the upgrade manager holds no job yet), it shows Msg1 and the upload
    // goes on to its end. A run left with no device to dispatch ends at once.
    void exitWaitsForARunFromItsConfirmationToItsEnd() {
        DevsimProcess sim(
            {"--device", "id=SLOW,mac=00:00:5E:00:04:01,https_port=-1,fault=delay:700"});
        MainWindowSetup setup = sandbox_.Setup();
        setup.UpgradeRunner = QuickUpgrade;
        CMainWindow window(setup);
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        CollectMessages(page, messages);
        const std::string slow = "SLOW";
        const std::string* adding = &slow;
        AnswerPopups(page, sim, "vqmtz", adding);
        CCameraListCtrl& devices = page.DeviceList();
        page.AddByAddress();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 1, 15000);
        QVERIFY(page.ChooseImage(WriteImage(sandbox_.Path("run.bin"), "2.0.0")));
        page.SelectAll();
        page.Upgrade();
        QVERIFY(messages.takeLast().contains("around 7 minutes"));
        window.RequestExit();
        auto* box = window.findChild<QMessageBox*>("Msg1");
        QVERIFY(box && box->isVisible());
        QVERIFY(!window.IsShuttingDown());
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsRunInProgress(), 15000);
        CCameraListCtrl& status = page.StatusList();
        QCOMPARE(Cell(status, 0, kStatusColumn), QString("Firmware upgrade successful."));
        box->close();

        // A ticked row whose device has left the table: nothing is dispatched, and the
        // page is given back with Back, the tabs and Exit.
        page.Back();
        CIPCamInfo ghost;
        ghost.DeviceId = "GHOST";
        ghost.DeviceName = "ghost";
        ghost.HostAddress = "127.0.0.1";
        ghost.FirmwareVersion = "1.0";
        ghost.Password = "vqmtz";
        window.PostCommand(command::kDeviceAddedByHand, ghost);
        QTRY_VERIFY(RowOf(devices, "GHOST") >= 0);
        page.CancelAll();
        Tick(devices, RowOf(devices, "GHOST"));
        page.Upgrade();
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsRunInProgress() && !window.IsBusy(), 5000);
        QVERIFY(window.findChild<QWidget*>("BackButton")->isVisibleTo(&page));
        for (int tab : {0, 1, 2, 3}) QVERIFY(window.TabButton(tab).isEnabled());
        window.RequestExit();
        QVERIFY(window.IsShuttingDown());
    }

    // A password typed while its row is being checked is kept and checked once that
    // check ends; the row shows the typed password's outcome, never the old one's.
    void aPasswordTypedDuringItsCheckWins() {
        if (const std::string why = LabNetwork::Unavailable(); !why.empty()) {
            QSKIP(why.c_str());
        }
        LabNetwork lab({.Devices = 1});
        // Every answer comes late: each check takes well over a second.
        DevsimProcess sim({"--discovery", "--device",
                           "id=ROW,address=198.18.1.1,http_port=80,https_port=-1,fault=delay:700"},
                          lab.InDevices());
        ScopedNetns inTech(lab.TechNamespace());
        CMainWindow window(sandbox_.Setup());
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        CollectMessages(page, messages);
        CCameraListCtrl& devices = page.DeviceList();
        page.Search();
        // The row comes with its check of the default password, which the device takes.
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 1, 10000);
        const QModelIndex password = devices.model()->index(0, kPasswordColumn);
        // A password typed (First) while a check runs, then (Then) another one typed
        // while the first is checked.
        const struct {
            const char* First;
            const char* Then;
            const char* Shown;
        } cases[] = {{"wrong", nullptr, "Failed"}, {"bad", "vqmtz", "Passed"}};
        for (const auto& c : cases) {
            devices.model()->setData(password, c.First, Qt::EditRole);
            QCOMPARE(password.data().toString(), QString("Connecting"));
            if (c.Then) devices.model()->setData(password, c.Then, Qt::EditRole);
            QTRY_COMPARE_WITH_TIMEOUT(password.data().toString(), QString(c.Shown), 15000);
            // Nothing follows from the check that was running.
            QTest::qWait(500);
            QCOMPARE(password.data().toString(), QString(c.Shown));
        }
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        window.RequestExit();
        QTRY_VERIFY_WITH_TIMEOUT(window.IsShuttingDown(), 5000);
        window.Settings().ClearExitMode();
    }

    // Planning says how many devices were planned and which were left out and why; a
    // save that fails says why and loses nothing: the entries stay for the next save,
    // and Exit asks before it would lose them.
    void plannedUpgradesAreToldAndNeverLost() {
        DevsimProcess sim({"--device", "id=NVR,mac=00:00:5E:00:05:01,https_port=-1,host_name=nvr",
                           "--device",
                           "id=BARE,mac=00:00:5E:00:05:02,https_port=-1,host_name=bare,model="});
        MainWindowSetup setup = sandbox_.Setup();
        setup.SchedulePath = ToStd(sandbox_.Path("broken/fw_config.xml"));
        QDir().mkpath(sandbox_.Path("broken"));
        const QString schedulePath = ToQ(setup.SchedulePath);
        const QByteArray foreign = "<html>not a schedule</html>";
        WriteFile(schedulePath, foreign);
        CMainWindow window(setup);
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        CollectMessages(page, messages);
        std::string adding = "NVR";
        page.SetPopupRunner([&](CMessageDlg& popup) -> int64_t {
            if (popup.DialogMode() == CMessageDlg::kAddDevice) {
                return AddLocalDevice(popup, sim.DeviceById(adding).HttpPort, "vqmtz");
            }
            popup.ChooseSchedule();
            popup.SetMoment(QDateTime::currentDateTime().addDays(1));
            popup.Ok();
            return popup.Result();
        });
        CCameraListCtrl& devices = page.DeviceList();
        page.AddByAddress();
        adding = "BARE";
        page.AddByAddress();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 2, 15000);
        QVERIFY(page.ChooseImage(WriteImage(sandbox_.Path("later.bin"), "2.0.0")));
        page.SelectAll();
        page.Upgrade();
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000);
        QVERIFY2(messages[0].startsWith("The schedule could not be saved.\n") &&
                     messages[0].contains("not a schedule file") &&
                     messages[0].endsWith("\nUpgrade planned for 1 device(s).\nLeft out:\nbare: "
                                          "its model is unknown"),
                 qPrintable(messages[0]));
        QCOMPARE(window.Schedule().Entries().size(), size_t{1});
        QFile file(schedulePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), foreign);
        file.close();

        // Exit would lose it: the user is asked, and Cancel keeps the program.
        window.RequestExit();
        QMessageBox* ask = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((ask = window.findChild<QMessageBox*>("ExitUnsaved")), 10000);
        QVERIFY(ask->text().contains("not a schedule file"));
        ask->button(QMessageBox::Cancel)->click();
        QTRY_VERIFY(!window.IsShuttingDown());
        QVERIFY(!window.Settings().IsExitModeSet());

        // Once the file can be written, Exit's save keeps what was planned.
        QFile::remove(schedulePath);
        window.RequestExit();
        QTRY_COMPARE_WITH_TIMEOUT(LoadSchedule(setup.SchedulePath).size(), size_t{1}, 10000);
        QCOMPARE(LoadSchedule(setup.SchedulePath)[0].MAC, std::string("00:00:5E:00:05:01"));
        QVERIFY(window.IsShuttingDown());
        window.Settings().ClearExitMode();
    }

    // ONVIF cameras of another maker beside the maker's device: listed with their maker,
    // checked through their device service, upgraded with their own maker's image.
    void onvifCamerasListedCheckedAndUpgraded() {
        if (const std::string why = LabNetwork::Unavailable(); !why.empty()) {
            QSKIP(why.c_str());
        }
        LabNetwork lab({.Devices = 4});
        const std::string camera =
            ",protocol=onvif,vendor=Acme,model=IPC-5,http_port=80,https_port=-1,firmware=3.1.0,"
            "reboot_seconds=1,image_mark=IPCM";
        DevsimProcess sim(
            {"--discovery",  //
             "--device", "id=NVR,address=198.18.1.1,http_port=80,https_port=-1,model=NVR-1600",
             "--device", "id=CAM,address=198.18.1.2,auth=digest,mac=00:1A:2B:00:00:02" + camera,
             "--device", "id=SKEWED,address=198.18.1.3,auth=token,clock_skew_s=14400" + camera,
             "--device", "id=OLD,address=198.18.1.4,fault=reboot_old_version" + camera},
            lab.InDevices());
        std::map<QString, QString> key;  // devsim id -> row key
        for (const DevsimProcess::Device& d : sim.Devices()) {
            key[QString::fromStdString(d.Id)] =
                QString::fromStdString(d.Endpoint.empty() ? d.Id : d.Endpoint);
        }
        ScopedNetns inTech(lab.TechNamespace());
        MainWindowSetup setup = sandbox_.Setup();
        setup.TimeScale = 15;  // a camera's two minutes of margin in eight seconds
        CMainWindow window(setup);
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        CollectMessages(page, messages);
        QDateTime planned = QDateTime::currentDateTime().addDays(1);
        bool upgradeNow = false;
        page.SetPopupRunner([&](CMessageDlg& popup) -> int64_t {
            if (!upgradeNow) {
                popup.ChooseSchedule();
                popup.SetMoment(planned);
            }
            popup.Ok();
            return popup.Result();
        });
        CCameraListCtrl& devices = page.DeviceList();

        page.Search();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 4, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(CountCells(devices, kPasswordColumn, "Passed"), 4, 15000);
        for (const char* id : {"CAM", "SKEWED", "OLD"}) {
            const int row = RowOf(devices, key[id]);
            QCOMPARE(Cell(devices, row, 3), QString("Acme IPC-5"));
            QCOMPARE(Cell(devices, row, kVersionColumn), QString("3.1.0"));
        }

        // The cameras' own image carries no mark: it is theirs alone.
        const QString cameraImage =
            WriteFile(sandbox_.Path("ipc.bin"), "IPCMversion=3.2.0\n" + QByteArray(30000, 'c'));
        QVERIFY(page.ChooseImage(cameraImage));
        page.SelectAll();
        page.Upgrade();
        QCOMPARE(messages.takeLast(), QString("Failed! Please check the firmware file."));
        const int nvr = RowOf(devices, "NVR");
        devices.model()->setData(devices.model()->index(nvr, 0), Qt::Unchecked, Qt::CheckStateRole);
        QVERIFY(!devices.IsChecked(nvr));

        // Planned for later: the entries name the cameras' service and MAC.
        page.Upgrade();
        // (The file may hold entries of earlier tests: the cameras' are those with a service.)
        std::vector<CScheduleInfo> saved;
        auto cameraEntries = [&] {
            saved.clear();
            for (const CScheduleInfo& e :
                 LoadSchedule(sandbox_.Path("Documents/Strelvane/fw_config.xml").toStdString())) {
                if (!e.OnvifService.empty()) saved.push_back(e);
            }
            return saved.size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(cameraEntries(), size_t{3}, 10000);
        for (const CScheduleInfo& e : saved) {
            QCOMPARE(e.OnvifService, std::string("/onvif/device_service"));
            QCOMPARE(e.Model, std::string("Acme IPC-5"));
        }
        QVERIFY(std::any_of(saved.begin(), saved.end(),
                            [](const CScheduleInfo& e) { return e.MAC == "00:1A:2B:00:00:02"; }));

        upgradeNow = true;
        page.Upgrade();
        CCameraListCtrl& status = page.StatusList();
        QTRY_COMPARE_WITH_TIMEOUT(status.RowCount(), 3, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(page.IsRunInProgress(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsRunInProgress(), 60000);
        for (const char* id : {"CAM", "SKEWED"}) {
            const int row = RowOf(status, key[id]);
            QCOMPARE(Cell(status, row, kStatusColumn), QString("Firmware upgrade successful."));
            QCOMPARE(Cell(status, row, kStatusVersionColumn), QString("3.2.0"));
        }
        QCOMPARE(Cell(status, RowOf(status, key["OLD"]), kStatusColumn),
                 QString("Failed! The device still runs the old firmware."));
        window.RequestExit();
        QTRY_VERIFY_WITH_TIMEOUT(window.IsShuttingDown(), 5000);
    }

    // A check's commands reach the row through the main window: a device that answers
    // neither way shows "Connect Error" and the prompt in a grey password cell.
    void unreachableDeviceThroughTheMainWindow() {
        CMainWindow window(sandbox_.Setup());
        CCameraListCtrl& devices = window.UpgradePageWidget().DeviceList();
        CIPCamInfo record;
        record.DeviceId = "AWAY";
        record.HostAddress = "127.0.0.1";
        for (int command :
             {command::kDeviceAddedByHand, command::kCheckFailed, command::kServerUnreachable}) {
            window.PostCommand(command, record);
        }
        QTRY_COMPARE(devices.RowCount(), 1);
        const QModelIndex password = devices.model()->index(0, kPasswordColumn);
        QTRY_COMPARE(password.data().toString(), QString("Cannot connect to the server."));
        QCOMPARE(Cell(devices, 0, kVersionColumn), QString("Connect Error"));
        QCOMPARE(password.data(Qt::ForegroundRole).value<QColor>(), skin::kDisabledText);
    }

private:
    // Reboot waits run 60 times faster.
    MainWindowSetup LabSetup() const {
        MainWindowSetup setup = sandbox_.Setup();
        setup.TimeScale = 60;
        return setup;
    }

    const UiSandbox& sandbox_;
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QApplication app(argc, argv);
    UpgradePageTest test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "upgrade_page_test.moc"
