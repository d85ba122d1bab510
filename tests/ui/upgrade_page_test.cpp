// The upgrade page against simulated devices in a lab (scripts/lab): search, credential
// checks, typed passwords, the Upgrade command's refusals, a run to its results, Back.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <map>
#include <memory>
#include <set>

#include "history/history_file.h"
#include "schedule/schedule_file.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "ui/main_window.h"
#include "ui/message_dlg.h"
#include "ui/upgrade_page.h"
#include "ui_sandbox.h"

namespace {

constexpr int kPasswordColumn = 6;
constexpr int kVersionColumn = 5;
constexpr int kStatusColumn = 4;

QString Cell(CBasicListCtrl& list, int row, int column) {
    return list.model()->index(row, column).data().toString();
}

int RowOf(CBasicListCtrl& list, const QString& key) { return list.FindRow(4, key); }

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
        MainWindowSetup setup = sandbox_.Setup();
        setup.TimeScale = 60;
        CMainWindow window(setup);
        CUpgradePage& page = window.UpgradePageWidget();
        QStringList messages;
        QDateTime planned = QDateTime::currentDateTime().addDays(1);
        planned.setTime(QTime(3, 30, 0));
        bool upgradeNow = false;
        QString typedHost;
        page.SetPopupRunner([&](CMessageDlg& popup) -> int64_t {
            if (popup.DialogMode() == CMessageDlg::kAddDevice) {
                return AddDevice(popup, typedHost, messages);
            }
            if (popup.PastWarningShown()) return -2;  // the warning must start hidden
            if (upgradeNow) {
                popup.Ok();
                return popup.Result();
            }
            popup.ChooseSchedule();
            popup.SetMoment(planned);
            popup.Ok();
            return popup.Result();
        });
        page.SetMessenger([&](const QString& text, bool) {
            messages << text;
            return true;
        });
        CCameraListCtrl& devices = page.DeviceList();

        page.Search();
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 3, 10000);
        const int good = RowOf(devices, "GOOD");
        const int other = RowOf(devices, "OTHER");
        QTRY_COMPARE_WITH_TIMEOUT(Cell(devices, good, kPasswordColumn), QString("Passed"), 10000);
        QCOMPARE(Cell(devices, good, kVersionColumn), QString("1.0.0"));
        QTRY_COMPARE_WITH_TIMEOUT(Cell(devices, other, kVersionColumn), QString("Connect Error"),
                                  10000);

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
        QFile notImage(sandbox_.Path("notes.bin"));
        QVERIFY(notImage.open(QIODevice::WriteOnly));
        notImage.write("just some notes");
        notImage.close();
        QVERIFY(!page.ChooseImage(notImage.fileName()));
        QCOMPARE(messages.takeLast(), QString("Failed! Please check the firmware file."));
        QFile image(sandbox_.Path("fw.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write(QByteArray("QRBAversion=2.0.0\n") + QByteArray(40000, 'x'));
        image.close();
        QVERIFY(page.ChooseImage(image.fileName()));
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
        const std::vector<CScheduleInfo> saved =
            LoadSchedule(sandbox_.Path("Documents/Strelvane/fw_config.xml").toStdString());
        QCOMPARE(saved.size(), size_t{4});
        QCOMPARE(saved[0].UpgradeTime, planned.toSecsSinceEpoch());
        QCOMPARE(saved[0].FWPath, image.fileName().toStdString());
        QCOMPARE(saved[3].MAC, std::string("00:1C:A1:00:00:04"));
        // Each entry has the MAC its device named, which its run checks, not the row's key.
        std::set<std::string> macs;
        for (const CScheduleInfo& e : saved) macs.insert(e.MAC);
        QVERIFY(macs.count("00:1C:A1:00:00:01") == 1);
        QVERIFY(macs.count("GOOD") == 0);
        QVERIFY(devices.isVisibleTo(&page));

        upgradeNow = true;
        page.Upgrade();
        QVERIFY(messages.takeLast().contains("around 7 minutes"));
        CCameraListCtrl& status = page.StatusList();
        QTRY_COMPARE_WITH_TIMEOUT(status.RowCount(), 4, 10000);
        QVERIFY(!devices.isVisibleTo(&page));
        QTRY_VERIFY_WITH_TIMEOUT(page.IsRunInProgress(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!page.IsRunInProgress(), 30000);
        QCOMPARE(Cell(status, RowOf(status, "GOOD"), kStatusColumn),
                 QString("Firmware upgrade successful."));
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
        QCOMPARE(kept["GOOD"], std::string("00:1C:A1:00:00:01 1.0.0>2.0.0 0 fw.bin"));
        QCOMPARE(kept["REJECT"], std::string("00:00:00:00:00:00 1.0.0> -406 fw.bin"));
        QCOMPARE(kept["00:1C:A1:00:00:04"], std::string("00:1C:A1:00:00:04 1.0.0>2.0.0 0 fw.bin"));

        // Back: the device list again, searched anew.
        page.Back();
        QVERIFY(devices.isVisibleTo(&page));
        QCOMPARE(status.RowCount(), 0);
        // The hand-entered device is listed again by the new search.
        QTRY_COMPARE_WITH_TIMEOUT(devices.RowCount(), 4, 10000);
        window.RequestExit();
        QTRY_VERIFY_WITH_TIMEOUT(window.IsShuttingDown(), 5000);
    }

private:
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
