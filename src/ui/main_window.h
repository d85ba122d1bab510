#pragma once

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "firmware/host_probes.h"
#include "history/history_file.h"
#include "layout/layout_texts.h"
#include "schedule/schedule_list.h"
#include "settings/settings.h"
#include "ui/main_frame.h"
#include "ui/skin_button.h"
#include "upgrade/upgrade_manager.h"

class CCheckCommands;
class CCoreServices;
class CDownloadCoordinator;
class CDownloadManager;
class CDownloadPage;
class CPage;
class CScheduleFileWorker;
class CSchedulePage;
class CSettingsPage;
class CTray;
class CUpgradePage;

// What the main window is built from. The defaults are the program's; tests point the
// folders into a sandbox and replace the network probe and the upgrade workers.
struct MainWindowSetup {
    QString DataFolder;  // layout files
    SettingsPaths Settings = DefaultSettingsPaths();
    std::string SchedulePath;   // empty: fw_config.xml under the user's Documents folder
    std::string StorageFolder;  // empty: the firmware store the settings choose
    double TimeScale = 1.0;     // deliberate waits run this many times faster
    NetworkProbe Network = NetworkConnected;
    std::string ServerBase;                     // empty: the machine-wide URL setting
    FreeSpaceProbe FreeSpace = AvailableBytes;  // of the firmware store's folder
    CUpgradeManager::JobRunner UpgradeRunner;   // empty: the real upgrade workers
    bool AutoArgument = false;                  // started with "-auto"
    // The upgrade page searches the network a second after start; tests that run
    // outside a lab turn it off.
    bool SearchAtStart = true;
};

// True for exactly one argument after the program name that equals "-auto" in any
// letter case.
bool IsAutoStartArgument(const QStringList& arguments);

// The program's one window: caption-less, 970 x 620 with rounded corners, dragged by
// its whole client area. It owns the pages and the long-lived service objects, switches
// pages with its tabs, guards Exit and runs the orderly shut-down. Esc, closing, and
// Enter outside lists and fields only hide it; the program goes on in the background
// until Exit.
class CMainWindow final : public QWidget, public IMainFrame {
    Q_OBJECT
public:
    enum Page { kUpgradePage = 0, kSchedulePage = 1, kSettingPage = 2, kFirmwarePage = 3 };

    explicit CMainWindow(MainWindowSetup setup, QWidget* parent = nullptr);
    ~CMainWindow() override;

    // IMainFrame.
    CLayoutTexts& Texts() override { return *texts_; }
    void BeginBusy() override;
    void EndBusySoon() override;
    bool IsBusy() const override { return busy_; }
    void LockTabs() override;
    void UnlockTabs() override;
    void SetWaitCursor(bool wait) override;
    void SetDownloadedName(const std::string& name) override;
    void NotifyAllDownloadsFinished() override;
    void NotifyNewFirmware() override;
    void NotifyDiskFull() override;
    void CatalogReady() override;
    void ShowPage(int page) override;

    // Switches every page to another language.
    void ApplyLanguage(int languageId);

    // Exit: refused while an upgrade run goes on, from its confirmation to its last
    // report (a message says so), and while scheduled upgrades run (the Schedule page is
    // shown instead); otherwise sets the exit flag, saves the schedule and starts the
    // shut-down, which ends with ShutDownFinished. A save that fails asks whether to
    // exit all the same.
    void RequestExit();
    bool IsShuttingDown() const override { return exitRequested_; }

    // A command from any thread, carried out on the user-interface thread: 1000 Exit,
    // 1012 minimise, 1013-1016 the tabs, 19/20 schedule progress, 32773 show, 32774
    // Exit, 32785 tray auto-start, 32790 another start, and the device commands
    // 32786-32789, 32791, 32792 for the upgrade page's device list.
    void PostCommand(int command, const CIPCamInfo& record = {});

    // Another start of the program: restore, raise and activate the window.
    void ShowFromAnotherStart();

    int CurrentPage() const { return currentPage_; }
    CSettings& Settings() { return settings_; }
    CScheduleList& Schedule() { return schedule_; }
    // The clock of the deliberate waits and the scheduler's "now".
    const Clock& WaitClock() const { return clock_; }
    CUpgradeManager* UpgradeManager();
    CUpgradePage& UpgradePageWidget() { return *upgradePage_; }
    CSchedulePage& SchedulePageWidget() { return *schedulePage_; }
    CSettingsPage& SettingsPageWidget() { return *settingsPage_; }
    CDownloadPage& DownloadPageWidget() { return *downloadPage_; }
    CSkinButton& TabButton(int page) { return *tabs_[static_cast<size_t>(page)]; }
    QString VersionText() const { return version_; }

signals:
    // The shut-down has deleted the services; the program may end.
    void ShutDownFinished();
    // A device command for the device list (32786-32789, 32791, 32792).
    void DeviceCommand(int command, const CIPCamInfo& record);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreatePages();
    void CreateServices();
    void LoadMainTexts();
    void HandleCommand(int command, const CIPCamInfo& record);
    void EndBusy();  // timer 5
    // Starts the scheduler (off this thread); while another process runs the schedule,
    // follows the file and tries again every few seconds.
    void StartScheduler();
    void SchedulerStartEnded(int started, const QString& error);
    // Saves the schedule off this thread; `done` gets an empty text or why it failed.
    void SaveSchedule(QObject& context, std::function<void(const QString& failure)> done);
    void ExitSaveEnded(const QString& failure);
    void GoOnWithExit();
    CPage* PageAt(int page) const;

    // main_window_startup.cpp
    void StartupRoutine();  // timer 3
    // Reads the local catalogue as a busy state, then checks the server in the
    // background; the Firmware page says so meanwhile.
    void LoadCatalog();
    void WatchCatalogCheck();
    void CatalogCheckEnded();
    void CheckFirmwareHour();  // timer 4
    void WaitForNetwork();     // timer 10
    void WatchNetwork();       // timer 11
    void ShowBalloon(std::string_view key, std::string_view def, const QString& argument);
    void ShowDownloadedBalloon();   // timer 7
    void ShowNewFirmwareBalloon();  // timer 8
    void ShowDiskFullBalloon();     // timer 9

    // main_window_problems.cpp
    // A message naming a file the program could not use and why: [UI_PopupMessage]
    // `key`, with "%1" the file and "%2" the reason. One at a time: while one is shown,
    // more of them add nothing.
    void SayFileProblem(const char* key, const char* def, const std::string& file,
                        const std::string& reason);
    // For the history's writers: hands each problem to the user-interface thread.
    HistoryProblem HistoryProblemHandler();

    // main_window_shutdown.cpp
    void ShutDownStep1();  // timer 1
    void ShutDownStep2();  // timer 2
    void DeleteServices();

    MainWindowSetup setup_;
    CSettings settings_;
    std::unique_ptr<CLayoutTexts> texts_;
    Clock clock_;
    CScheduleList schedule_;
    std::string schedulePath_;
    QString version_;

    // Pages, children of the window.
    CDownloadPage* downloadPage_ = nullptr;
    CUpgradePage* upgradePage_ = nullptr;
    CSchedulePage* schedulePage_ = nullptr;
    CSettingsPage* settingsPage_ = nullptr;

    // Services, in the order they are created. The download manager and the check
    // commands outlive the core services, whose checks report to the commands.
    std::unique_ptr<CDownloadManager> downloadManager_;
    std::unique_ptr<CCheckCommands> checkCommands_;
    std::unique_ptr<CCoreServices> services_;
    std::unique_ptr<CDownloadCoordinator> coordinator_;
    // The look at the devices an earlier run left in flight, off the user-interface thread.
    std::jthread inFlightReview_;
    bool lateWatchHandedOver_ = false;  // Exit was confirmed while the late watch looked
    // Every use of the schedule file from this window; the runner outlives it.
    std::unique_ptr<CScheduleFileWorker> scheduleFiles_;

    CSkinButton exit_;
    CSkinButton minimise_;
    std::array<CSkinButton*, 4> tabs_{};
    QLabel title_;
    QLabel versionLabel_;
    QLabel notice_;
    QLabel prompt_;
    CTray* tray_ = nullptr;
    QPointer<QMessageBox> problemBox_;

    int currentPage_ = kUpgradePage;
    bool busy_ = false;
    bool running_ = false;
    bool exitRequested_ = false;
    bool exitSavePending_ = false;  // the shut-down waits for Exit's save
    bool schedulerStarting_ = false;
    bool closing_ = false;
    bool catalogLoading_ = false;
    bool networkUp_ = false;
    bool autoCheckDone_ = false;
    std::atomic<bool> scheduleStopped_{false};
    std::vector<std::string> downloadedNames_;  // of the balloon to come

    QTimer exitStep1_;      // 1
    QTimer exitStep2_;      // 2
    QTimer busyEnd_;        // 5
    QTimer firmwareCheck_;  // 4
    QTimer networkWait_;    // 10
    QTimer networkWatch_;   // 11
    QTimer catalogWatch_;
    QTimer downloadedBalloon_;   // 7
    QTimer newFirmwareBalloon_;  // 8
    QTimer diskFullBalloon_;     // 9
    QTimer schedulerRetry_;
};
