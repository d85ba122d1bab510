// The main window driven offscreen: tabs and busy states, the Exit guards and the
// shut-down, language switches, hiding, and the names screen readers see.
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "layout/layout_texts.h"
#include "schedule/schedule_list.h"
#include "settings/settings.h"
#include "ui/data_folder.h"
#include "ui/download_page.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/schedule_page.h"
#include "ui/settings_page.h"
#include "ui/skin_group_box.h"
#include "ui/upgrade_page.h"
#include "ui_sandbox.h"

namespace {

// A worker that holds its job until the manager stops.
int HoldUntilStopped(UpgradeJob&, const Clock& clock, std::stop_token stop) {
    clock.SleepMs(600000, stop);
    return -6;
}

// A job for a device that is never reached (the tests' workers do not reach out).
JobRequest AJob() {
    JobRequest request;
    request.Scheme = "http";
    request.DeviceId = "00:AA:BB:CC:DD:EE";
    request.Host = "127.0.0.1";
    request.Port = 9;
    request.RunFlag = 1;
    return request;
}

CScheduleInfo QueuedEntry() {
    CScheduleInfo entry;
    entry.IP = "127.0.0.1";
    entry.Port = "9";
    entry.MAC = "00:11:22:33:44:55";
    entry.Status = schedule_status::kQueued;
    entry.FWPath = "/nonexistent/image.bin";
    return entry;
}

// The firmware server of a check at start-up, on 127.0.0.1: one that refuses the
// connection, one that takes it and never answers, and one that answers a few seconds
// late with a catalogue of one series.
class CatalogServer final : public QObject {
public:
    enum Kind { Refusing, Silent, Slow };
    static constexpr int kSlowMs = 2500;

    explicit CatalogServer(Kind kind) {
        server_.listen(QHostAddress::LocalHost);
        port_ = server_.serverPort();
        if (kind == Refusing) {
            server_.close();
            return;
        }
        connect(&server_, &QTcpServer::newConnection, this, [this, kind] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                if (kind == Slow)
                    QTimer::singleShot(kSlowMs, socket, [socket] { Answer(*socket); });
            }
        });
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    static void Answer(QTcpSocket& socket) {
        const QByteArray body =
            "<FirmwareList><Firmware Series=\"Dome\" ProductName=\"D1\" Model=\"D1\" "
            "HWVer=\"V1\" FWVer=\"2.0\" Filename=\"d1.bin\" MD5=\"00\" Size=\"10\"/>"
            "</FirmwareList>";
        socket.write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket.disconnectFromHost();
    }

    QTcpServer server_;
    quint16 port_ = 0;
};

// Writes `bytes` to `path`, making its folder; true when written.
bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString ChildText(QWidget& root, const char* name) {
    QObject* child = root.findChild<QObject*>(name);
    if (auto* button = qobject_cast<QAbstractButton*>(child)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(child)) return label->text();
    if (auto* group = qobject_cast<CSkinGroupBox*>(child)) return group->Caption();
    return "<no " + QString(name) + ">";
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
public:
    explicit MainWindowTest(const UiSandbox& sandbox) : sandbox_(sandbox) {}

private:
    std::unique_ptr<CMainWindow> MakeWindow(MainWindowSetup setup) {
        auto window = std::make_unique<CMainWindow>(std::move(setup));
        window->show();
        // The start-up routine loads the (empty) firmware catalogue as a busy state.
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(!window->IsBusy() && window->DownloadPageWidget().isEnabled(),
                                     5000);
        }();
        return window;
    }
    std::unique_ptr<CMainWindow> MakeWindow() { return MakeWindow(sandbox_.Setup()); }

    const UiSandbox& sandbox_;

private slots:
    void clickingTheCurrentTabChangesNothing() {
        auto window = MakeWindow();
        QCOMPARE(window->CurrentPage(), int(CMainWindow::kUpgradePage));
        QTest::mouseClick(&window->TabButton(CMainWindow::kUpgradePage), Qt::LeftButton);
        QCOMPARE(window->CurrentPage(), int(CMainWindow::kUpgradePage));
        QVERIFY(window->UpgradePageWidget().isVisible());
        QVERIFY(!window->SchedulePageWidget().isVisible());
        QCOMPARE(window->TabButton(CMainWindow::kUpgradePage).CurrentLook(),
                 CSkinButton::Look::Selected);

        QTest::mouseClick(&window->TabButton(CMainWindow::kSettingPage), Qt::LeftButton);
        QCOMPARE(window->CurrentPage(), int(CMainWindow::kSettingPage));
        QVERIFY(window->SettingsPageWidget().isVisible());
        QVERIFY(!window->UpgradePageWidget().isVisible());
        QCOMPARE(window->TabButton(CMainWindow::kSettingPage).CurrentLook(),
                 CSkinButton::Look::Selected);
        QCOMPARE(window->TabButton(CMainWindow::kUpgradePage).CurrentLook(),
                 CSkinButton::Look::Rest);

        QTest::mouseClick(&window->TabButton(CMainWindow::kFirmwarePage), Qt::LeftButton);
        QVERIFY(window->DownloadPageWidget().isVisible());
        QCOMPARE(ChildText(window->DownloadPageWidget(), "DescriptionLabel"),
                 QString("Check and download firmware"));
    }

    void busyDisablesTheOtherTabsUntilItEnds() {
        auto window = MakeWindow();
        auto enabled = [&](int page) { return window->TabButton(page).isEnabled(); };
        window->BeginBusy();
        QVERIFY(enabled(CMainWindow::kUpgradePage));
        for (int page : {1, 2, 3}) QVERIFY(!enabled(page));
        // A disabled tab cannot switch the page.
        QTest::mouseClick(&window->TabButton(CMainWindow::kSchedulePage), Qt::LeftButton);
        QCOMPARE(window->CurrentPage(), int(CMainWindow::kUpgradePage));
        window->EndBusySoon();
        QVERIFY(window->IsBusy());  // timer 5 has not run yet
        QTRY_VERIFY(!window->IsBusy());
        for (int page : {0, 1, 2, 3}) QVERIFY(enabled(page));

        // During an upgrade run the end of a busy state frees the upgrade tab only. The
        // run's notifications come from worker threads.
        IRegistryObserver& page = window->UpgradePageWidget();
        std::thread([&] {
            page.RunBegins();
            page.Busy(true);
        }).join();
        QTRY_VERIFY(window->UpgradePageWidget().IsRunInProgress());
        QVERIFY(window->IsBusy());
        QVERIFY(!ChildText(window->UpgradePageWidget(), "SearchButton").isEmpty());
        QVERIFY(!window->findChild<QWidget*>("SearchButton")->isVisible());
        std::thread([&] { page.Busy(false); }).join();
        QTRY_VERIFY(!window->IsBusy());
        QVERIFY(enabled(CMainWindow::kUpgradePage));
        for (int page : {1, 2, 3}) QVERIFY(!enabled(page));
        std::thread([&] { page.RunEnds(); }).join();
        QTRY_VERIFY(!window->UpgradePageWidget().IsRunInProgress());
        for (int page : {0, 1, 2, 3}) QVERIFY(enabled(page));
        QVERIFY(window->findChild<QWidget*>("BackButton")->isVisible());
    }

    void exitWaitsForUpgradesAndScheduledRunsThenShutsDown() {
        MainWindowSetup setup = sandbox_.Setup();
        setup.UpgradeRunner = HoldUntilStopped;
        auto window = MakeWindow(std::move(setup));
        QSignalSpy finished(window.get(), &CMainWindow::ShutDownFinished);

        window->UpgradeManager()->StartJob(AJob());
        window->RequestExit();
        auto* box = window->findChild<QMessageBox*>("Msg1");
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->text(), QString("Some devices are still upgrading, please wait."));
        QCOMPARE(box->windowTitle(), QString("Strelvane"));
        QVERIFY(!window->IsShuttingDown());
        box->close();
        window->UpgradeManager()->Stop();
        QTRY_VERIFY(!window->UpgradeManager()->HasJobs());

        window->Schedule().Append(QueuedEntry());
        std::vector<CScheduledRun> runs = window->Schedule().StartQueued();
        QCOMPARE(window->SchedulePageWidget().RunningCount(), 1);
        window->PostCommand(19);
        QTRY_VERIFY(window->SchedulePageWidget().WarningShown());
        window->RequestExit();
        QCOMPARE(window->CurrentPage(), int(CMainWindow::kSchedulePage));
        QVERIFY(!window->IsShuttingDown());
        QVERIFY(window->findChild<QMessageBox*>("Msg1") == nullptr ||
                !window->findChild<QMessageBox*>("Msg1")->isVisible());
        runs.clear();  // the run ends
        window->PostCommand(20);
        QTRY_VERIFY(!window->SchedulePageWidget().WarningShown());
        // Let the end of the upgrade run (queued to this thread) close its busy state.
        QTest::qWait(300);
        QTRY_VERIFY(!window->IsBusy());

        // A busy page holds the shut-down until it ends.
        window->BeginBusy();
        window->RequestExit();
        QVERIFY(window->IsShuttingDown());
        QVERIFY(window->Settings().IsExitModeSet());
        QTest::qWait(900);
        QCOMPARE(finished.count(), 0);
        window->EndBusySoon();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QVERIFY(!window->DownloadPageWidget().HasServices());
        window->Settings().ClearExitMode();
    }

    // Exit while the late watch still looks for a device asks first; confirmed, it hands
    // the device to the next start through the journal.
    void exitDuringTheLateWatchAsksAndHandsTheWatchOn() {
        MainWindowSetup setup = sandbox_.Setup();
        setup.UpgradeRunner = [](UpgradeJob& job, const Clock&, std::stop_token) {
            job.Manager->Report(job.DeviceId, stage::kUploading, 0, 0, 0);
            return rc::kNotSeenAgain;
        };
        auto window = MakeWindow(std::move(setup));
        QSignalSpy finished(window.get(), &CMainWindow::ShutDownFinished);
        window->UpgradeManager()->StartJob(AJob());
        QTRY_COMPARE(window->UpgradeManager()->LateWatching(), 1);
        auto asked = [&] {
            for (QMessageBox* box : window->findChildren<QMessageBox*>("ExitLateWatch")) {
                if (box->isVisible()) return box;
            }
            return static_cast<QMessageBox*>(nullptr);
        };
        window->RequestExit();
        QVERIFY(asked());
        QVERIFY(asked()->text().startsWith("Devices that did not come back in time"));
        asked()->button(QMessageBox::Cancel)->click();
        QVERIFY(!window->IsShuttingDown());
        window->RequestExit();
        QVERIFY(asked());
        asked()->button(QMessageBox::Ok)->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        window->Settings().ClearExitMode();
        const CInFlightJournal journal(InFlightJournalFile(DefaultHistoryFile()));
        QCOMPARE(journal.Entries().size(), size_t{1});
        QCOMPARE(QString::fromStdString(journal.Entries()[0].Key), QString("00:AA:BB:CC:DD:EE"));
    }

    void languageSwitchReloadsEveryPageAndSetsTheReadingOrder() {
        sandbox_.CreateSettingsStore();
        auto window = MakeWindow();
        CLayoutTexts japanese(STRELVANE_DATA_DIR, 17);
        auto jp = [&](const char* section, const char* key) {
            return ToQ(japanese.ReadLayoutText(section, key, "<missing>"));
        };
        // The auto-start box writes the autostart entry and keeps its state across reloads.
        auto* autoStart = window->findChild<QAbstractButton*>("AutoStartCheckBox");
        autoStart->click();
        QVERIFY(QFile::exists(sandbox_.Path("config/autostart/strelvane.desktop")));

        window->SettingsPageWidget().ChooseLanguage(3);
        QCOMPARE(window->Texts().LanguageId(), 17);
        QVERIFY(autoStart->isChecked());
        QCOMPARE(window->TabButton(CMainWindow::kSchedulePage).text(),
                 jp("Main", "ScheduleTabButton"));
        QCOMPARE(ChildText(window->UpgradePageWidget(), "SearchButton"),
                 jp("Upgrade1Page", "SearchButton"));
        QCOMPARE(ChildText(window->SchedulePageWidget(), "EditButton"),
                 jp("SchedulePage", "EditButton"));
        QCOMPARE(ChildText(window->SettingsPageWidget(), "LanguageGroup"),
                 jp("SettingPage", "LanguageGroup"));
        QCOMPARE(ChildText(window->DownloadPageWidget(), "DescriptionLabel"),
                 jp("DownloadPage", "DescriptionLabel"));
        auto* box = window->SettingsPageWidget().findChild<QComboBox*>("LanguageComboBox");
        QCOMPARE(box->currentIndex(), 3);
        QCOMPARE(box->count(), 8);
        QVERIFY(ChildText(window->UpgradePageWidget(), "SearchButton") != QString("Search"));
        QCOMPARE(QApplication::layoutDirection(), Qt::LeftToRight);

        window->SettingsPageWidget().ChooseLanguage(7);
        QCOMPARE(window->Texts().LanguageId(), 1037);
        QCOMPARE(QApplication::layoutDirection(), Qt::RightToLeft);
        QVERIFY(window->UpgradePageWidget().isRightToLeft());

        window->SettingsPageWidget().ChooseLanguage(0);
        QCOMPARE(window->Texts().LanguageId(), 9);
        QCOMPARE(QApplication::layoutDirection(), Qt::LeftToRight);
        QVERIFY(!window->UpgradePageWidget().isRightToLeft());
        QCOMPARE(ChildText(window->UpgradePageWidget(), "SearchButton"), QString("Search"));
        CSettings stored;
        stored.LoadSettings();
        QCOMPARE(stored.LanguageId(), 9);
        QTRY_VERIFY(!window->IsBusy());
    }

    // The Setting page's batch guards, driven as a screen reader drives them: the check
    // box's toggle action and the count's value. Each change is stored at once and read
    // by the next start; the page's texts follow the language.
    void batchGuardsAreStoredAsTheyChange() {
        sandbox_.CreateSettingsStore();
        {
            auto window = MakeWindow();
            QWidget& page = window->SettingsPageWidget();
            auto* first = page.findChild<QCheckBox*>("FirstOfEachModelCheckBox");
            auto* failures = page.findChild<QSpinBox*>("MaxFailuresEdit");
            QVERIFY(first && failures);
            QCOMPARE(first->text(), QString("Upgrade one device of each model first"));
            QCOMPARE(first->accessibleName(), QString("FirstOfEachModelCheckBox"));
            QCOMPARE(failures->accessibleName(), QString("MaxFailuresEdit"));
            QCOMPARE(ChildText(page, "MaxFailuresLabel"),
                     QString("Stop after this many failed devices (0 = no limit)"));
            QVERIFY(!first->isChecked());
            QCOMPARE(failures->value(), 0);

            window->ShowPage(CMainWindow::kSettingPage);
            QAccessibleInterface* box = QAccessible::queryAccessibleInterface(first);
            QVERIFY(box && box->actionInterface());
            box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            QVERIFY(first->isChecked());
            QAccessibleInterface* count = QAccessible::queryAccessibleInterface(failures);
            QVERIFY(count && count->valueInterface());
            count->valueInterface()->setCurrentValue(3);
            QCOMPARE(failures->value(), 3);
            CSettings stored;
            QVERIFY(stored.FirstOfEachModel());
            QCOMPARE(stored.MaxFailures(), 3);

            window->SettingsPageWidget().ChooseLanguage(1);
            CLayoutTexts chinese(STRELVANE_DATA_DIR, 1028);
            QCOMPARE(first->text(),
                     ToQ(chinese.ReadLayoutText("SettingPage", "FirstOfEachModelCheckBox", "")));
            QVERIFY(first->isChecked());
            window->SettingsPageWidget().ChooseLanguage(0);
            QTRY_VERIFY(!window->IsBusy());
        }
        auto again = MakeWindow();
        QVERIFY(again->findChild<QCheckBox*>("FirstOfEachModelCheckBox")->isChecked());
        QCOMPARE(again->findChild<QSpinBox*>("MaxFailuresEdit")->value(), 3);
        // An unreadable count is no limit.
        CSettings settings;
        settings.LoadSettings();
        settings.SaveSetting("MaxFailures", "many");
        settings.SaveSetting("FirstOfEachModel", "0");
        QCOMPARE(CSettings().MaxFailures(), 0);
        QVERIFY(!CSettings().FirstOfEachModel());
    }

    void anUnreadableFirmwareCatalogueStillEndsTheStartUpBusyState() {
        MainWindowSetup setup = sandbox_.Setup();
        setup.StorageFolder = ToStd(sandbox_.Path("broken-store"));
        QVERIFY(WriteFile(sandbox_.Path("broken-store/firmware.xml"), "<Firmware><Series"));
        auto window = MakeWindow(std::move(setup));  // waits for the busy state to end
        QVERIFY(window->TabButton(CMainWindow::kSchedulePage).isEnabled());
    }

    // A settings file that is a FIFO and a history that cannot be written are named in a
    // message, one at a time, while the program goes on.
    void filesThatCannotBeUsedAreNamedInAMessage() {
        MainWindowSetup setup = sandbox_.Setup();
        setup.Settings.UserStore = ToStd(sandbox_.Path("fifo-settings.conf"));
        QVERIFY(::mkfifo(setup.Settings.UserStore.c_str(), 0600) == 0);
        setup.UpgradeRunner = [](UpgradeJob&, const Clock&, std::stop_token) { return 0; };
        QFile blocker(sandbox_.Path("not-a-folder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", sandbox_.Path("not-a-folder/state").toUtf8());
        auto window = MakeWindow(std::move(setup));
        qputenv("XDG_STATE_HOME", state);

        auto* settingsBox = window->findChild<QMessageBox*>("SettingsUnreadable");
        QVERIFY(settingsBox && settingsBox->isVisible());
        QCOMPARE(settingsBox->text(), "The settings file " + sandbox_.Path("fifo-settings.conf") +
                                          " cannot be read (not a regular file). The program "
                                          "uses its default settings.");
        settingsBox->close();
        QTRY_VERIFY(window->findChild<QMessageBox*>("SettingsUnreadable") == nullptr);

        window->UpgradeManager()->StartJob(AJob());
        QTRY_VERIFY(window->findChild<QMessageBox*>("HistoryNotRecorded") != nullptr);
        auto* historyBox = window->findChild<QMessageBox*>("HistoryNotRecorded");
        QCOMPARE(historyBox->text(),
                 "An upgrade outcome could not be recorded in the history " +
                     sandbox_.Path("not-a-folder/state") + "/strelvane/history.tsv (" +
                     QString(std::strerror(ENOTDIR)) + "). The upgrade itself is not affected.");
        QTRY_VERIFY(!window->UpgradeManager()->HasJobs());
    }

    // Only the local catalogue holds the tabs and Exit at start: whatever the firmware
    // server does, every tab and Exit work within a second of the window appearing, the
    // Firmware page says while it checks, and Exit during the check ends it at once.
    void tabsAndExitWorkWhileTheFirmwareServerIsChecked_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("refusing") << int(CatalogServer::Refusing);
        QTest::newRow("silent") << int(CatalogServer::Silent);
        QTest::newRow("slow") << int(CatalogServer::Slow);
    }
    void tabsAndExitWorkWhileTheFirmwareServerIsChecked() {
        QFETCH(int, kind);
        CatalogServer server(static_cast<CatalogServer::Kind>(kind));
        QTemporaryDir store;
        MainWindowSetup setup = sandbox_.Setup();
        setup.StorageFolder = ToStd(store.path());
        setup.ServerBase = server.Base();
        setup.Network = [] { return true; };
        CMainWindow window(setup);
        QSignalSpy finished(&window, &CMainWindow::ShutDownFinished);
        const QString checking = "Checking the firmware server for new firmware...";
        const QString done = "Check and download firmware";
        CDownloadPage& page = window.DownloadPageWidget();
        QElapsedTimer shown;
        window.show();
        shown.start();
        // The start-up routine comes a moment later and leaves the check running.
        if (kind != CatalogServer::Refusing) {
            QTRY_COMPARE_WITH_TIMEOUT(ChildText(page, "DescriptionLabel"), checking, 1000);
        }
        auto free = [&] {
            bool tabs = true;
            for (int page : {0, 1, 2, 3}) tabs = tabs && window.TabButton(page).isEnabled();
            return tabs && !window.IsBusy();
        };
        QTRY_VERIFY_WITH_TIMEOUT(free(), 1000);
        QVERIFY2(shown.elapsed() < 1000, qPrintable(QString::number(shown.elapsed())));
        QTest::mouseClick(&window.TabButton(CMainWindow::kFirmwarePage), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWindow::kFirmwarePage));
        if (kind == CatalogServer::Refusing) {
            QTRY_COMPARE_WITH_TIMEOUT(ChildText(page, "DescriptionLabel"), done, 5000);
        } else {
            QCOMPARE(ChildText(page, "DescriptionLabel"), checking);
        }
        if (kind == CatalogServer::Slow) {
            QTRY_COMPARE_WITH_TIMEOUT(ChildText(page, "DescriptionLabel"), done, 15000);
            QCOMPARE(page.List().RowCount(), 1);
        }
        QTest::mouseClick(&window.TabButton(CMainWindow::kSchedulePage), Qt::LeftButton);
        QCOMPARE(window.CurrentPage(), int(CMainWindow::kSchedulePage));
        QElapsedTimer exit;
        exit.start();
        window.RequestExit();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QVERIFY2(exit.elapsed() < 5000, qPrintable(QString::number(exit.elapsed())));
        window.Settings().ClearExitMode();
    }

    // Planned times are wall-clock times under any time scale: an entry due in a few
    // seconds waits for them, although the scheduler ticks sixty times a second.
    void aPlannedTimeStartsOnTheWallClockUnderATimeScale() {
        MainWindowSetup setup = sandbox_.Setup();
        setup.TimeScale = 60;
        setup.SchedulePath = ToStd(sandbox_.Path("scaled/fw_config.xml"));
        const QString image = sandbox_.Path("scaled/fw.bin");
        QVERIFY(WriteFile(image, "QRBA"));
        CMainWindow window(setup);
        // Complete, as the file keeps it (the scheduler saves and reads it back).
        CScheduleInfo entry = QueuedEntry();
        entry.Account = "admin";
        entry.Password = "vqmtz";
        entry.Device = "Gate";
        entry.Model = "NVR-1600";
        entry.Version = "1.0";
        entry.Status = schedule_status::kWaiting;
        entry.FWPath = ToStd(image);
        const int64_t due = QDateTime::currentSecsSinceEpoch() + 4;
        entry.UpgradeTime = due;
        const uint64_t id = window.Schedule().Append(entry);
        auto status = [&] {
            const std::optional<ScheduleEntry> found = window.Schedule().Find(id);
            return found ? found->Info.Status : -1;
        };
        QTest::qWait(2000);
        QCOMPARE(status(), int(schedule_status::kWaiting));
        QTRY_VERIFY_WITH_TIMEOUT(status() != schedule_status::kWaiting, 15000);
        QVERIFY(QDateTime::currentSecsSinceEpoch() >= due);
    }

    void closingHidesAndAnotherStartShowsTheWindowAgain() {
        auto window = MakeWindow();
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        window->show();
        QTest::keyClick(window.get(), Qt::Key_Return);
        QVERIFY(!window->isVisible());
        window->show();
        window->close();
        QVERIFY(!window->isVisible());
        // Commands may come from any thread; they are carried out on this one.
        std::thread([&] { window->PostCommand(32790); }).join();
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(window->size(), QSize(970, 620));
        QCOMPARE(window->VersionText(), QString("v1.0.0.0"));
    }

    void everyControlIsNamedForItsLayoutKey() {
        auto window = MakeWindow();
        int controls = 0;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                                 qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w);
            // A list's own parts (corner button, cell editor) are read through the list.
            const bool partOfList =
                w->parent()->parent() && w->parent()->parent()->inherits("QAbstractItemView");
            if (!control || qobject_cast<QMessageBox*>(w->window()) ||
                w->parent()->inherits("QComboBox") || w->parent()->inherits("QAbstractItemView") ||
                w->parent()->inherits("QAbstractSpinBox") || partOfList) {
                continue;
            }
            ++controls;
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->metaObject()->className()));
            QCOMPARE(w->accessibleName(), w->objectName());
        }
        QVERIFY(controls >= 20);
        for (const char* key :
             {"SearchButton", "UpgradeTabButton", "LanguageComboBox", "ExitButton",
              "AutoStartCheckBox", "EditBrowse", "FirstOfEachModelCheckBox", "MaxFailuresEdit"}) {
            QVERIFY2(window->findChild<QWidget*>(key), key);
        }
    }

    void startArgumentsAndDataFolder() {
        const struct {
            QStringList Arguments;
            bool Auto;
        } cases[] = {
            {{"strelvane", "-auto"}, true},       {{"strelvane", "-AUTO"}, true},
            {{"strelvane", "-Auto"}, true},       {{"strelvane"}, false},
            {{"strelvane", "-auto", "x"}, false}, {{"strelvane", "x", "-auto"}, false},
            {{"strelvane", "auto"}, false},
        };
        for (const auto& c : cases) QCOMPARE(IsAutoStartArgument(c.Arguments), c.Auto);

        QTemporaryDir dir;
        const QString bin = dir.filePath("bin");
        const QString share = dir.filePath("share/strelvane");
        QDir().mkpath(bin);
        QDir().mkpath(share);
        QCOMPARE(FindDataFolder(bin), bin);  // nothing anywhere: the program folder
        QFile(share + "/Layout_EN.ini").open(QIODevice::WriteOnly);
        QCOMPARE(FindDataFolder(bin), share);
        QFile(bin + "/Layout_EN.ini").open(QIODevice::WriteOnly);
        QCOMPARE(FindDataFolder(bin), bin);
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    QApplication app(argc, argv);
    MainWindowTest test(sandbox);
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
