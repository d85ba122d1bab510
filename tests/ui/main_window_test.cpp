// The main window driven offscreen: tabs and busy states, the Exit guards and the
// shut-down, language switches, hiding, and the names screen readers see.
#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <thread>

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

CScheduleInfo QueuedEntry() {
    CScheduleInfo entry;
    entry.IP = "127.0.0.1";
    entry.Port = "9";
    entry.MAC = "00:11:22:33:44:55";
    entry.Status = schedule_status::kQueued;
    entry.FWPath = "/nonexistent/image.bin";
    return entry;
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

        JobRequest request;
        request.Scheme = "http";
        request.DeviceId = "00:AA:BB:CC:DD:EE";
        request.Host = "127.0.0.1";
        request.Port = 9;
        request.RunFlag = 1;
        window->UpgradeManager()->StartJob(request);
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
        QDir().mkpath(sandbox_.Path("broken-store"));
        QFile catalog(sandbox_.Path("broken-store/firmware.xml"));
        QVERIFY(catalog.open(QIODevice::WriteOnly));
        catalog.write("<Firmware><Series");
        catalog.close();
        auto window = MakeWindow(std::move(setup));  // waits for the busy state to end
        QVERIFY(window->TabButton(CMainWindow::kSchedulePage).isEnabled());
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
