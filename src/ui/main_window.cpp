#include "ui/main_window.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextEdit>
#include <QWindow>

#include "base/result_codes.h"
#include "base/trace.h"
#include "firmware/download_coordinator.h"
#include "firmware/download_manager.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "history/history_file.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "registry/credential_check.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_runner.h"
#include "services/core_services.h"
#include "settings/xdg_folders.h"
#include "ui/check_commands.h"
#include "ui/download_page.h"
#include "ui/font_setup.h"
#include "ui/qt_text.h"
#include "ui/schedule_file_worker.h"
#include "ui/schedule_page.h"
#include "ui/settings_page.h"
#include "ui/skin.h"
#include "ui/tray.h"
#include "ui/upgrade_page.h"
#include "upgrade/in_flight_review.h"

namespace {

constexpr int kBusyEndMs = 100;
constexpr int kSchedulerRetryMs = 5000;
// How long a device that ended as not seen again is looked for, on the Clock.
constexpr int64_t kLateWatchMs = 30 * 60 * 1000;
// The devices' own default, as the credential check takes it.
constexpr const char* kDefaultDevicePassword = "vqmtz";

// The tab keys, in page order.
constexpr std::array<const char*, 4> kTabKeys = {"UpgradeTabButton", "ScheduleTabButton",
                                                 "SettingTabButton", "FirmwareTabButton"};
constexpr std::array<const char*, 4> kTabTexts = {"Upgrade", "Schedule", "Setting", "Firmware"};

QString ProgramVersionText() {
    const QString version = QStringLiteral(STRELVANE_VERSION);
    return "v" + (version.isEmpty() ? QStringLiteral("1.0.0.0") : version);
}

}  // namespace

bool IsAutoStartArgument(const QStringList& arguments) {
    return arguments.size() == 2 && arguments[1].compare("-auto", Qt::CaseInsensitive) == 0;
}

CMainWindow::CMainWindow(MainWindowSetup setup, QWidget* parent)
    : QWidget(parent),
      setup_(std::move(setup)),
      settings_(setup_.Settings),
      clock_(setup_.TimeScale),
      exit_(CSkinButton::Kind::Close, this),
      minimise_(CSkinButton::Kind::Minimise, this),
      title_(this),
      versionLabel_(this),
      notice_(this),
      prompt_(this) {
    tray_ = new CTray(QIcon(skin::AppIcon(64)), this);
    const PrivateFonts fonts = LoadPrivateFonts();
    schedulePath_ =
        setup_.SchedulePath.empty() ? ScheduleFilePath(DocumentsFolder()) : setup_.SchedulePath;
    schedule_.Assign(LoadSchedule(schedulePath_));
    settings_.LoadSettings();
    settings_.SetLanguageApplier([this](int languageId) { ApplyLanguage(languageId); });
    texts_ = std::make_unique<CLayoutTexts>(ToStd(setup_.DataFolder), settings_.LanguageId());
    texts_->SetFontsAdded(fonts.MsGothic, fonts.SourceHanSans);
    if (setup_.AutoArgument) settings_.RemoveRunEntry();

    setWindowIcon(QIcon(skin::AppIcon(64)));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(skin::kWindowWidth, skin::kWindowHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect full = screen->geometry();
        move(full.left() + full.width() / 2 - skin::kWindowWidth / 2,
             full.top() + full.height() / 2 - skin::kWindowHeight / 2);
    }
    version_ = ProgramVersionText();
    skin::SetTextColour(title_, Qt::white);
    // The footer stands on the light body.
    skin::SetTextColour(versionLabel_, skin::kFooterText);
    skin::SetTextColour(notice_, skin::kFooterText);
    skin::SetTextColour(prompt_, skin::kCaption);
    prompt_.hide();
    versionLabel_.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(&exit_, &QAbstractButton::clicked, this, [this] { HandleCommand(1000, {}); });
    connect(&minimise_, &QAbstractButton::clicked, this, [this] { HandleCommand(1012, {}); });
    for (size_t i = 0; i < tabs_.size(); ++i) {
        tabs_[i] = new CSkinButton(CSkinButton::Kind::Tab, this);
        connect(tabs_[i], &QAbstractButton::clicked, this,
                [this, i] { HandleCommand(1013 + static_cast<int>(i), {}); });
    }
    connect(tray_, &CTray::ShowRequested, this, [this] { HandleCommand(32773, {}); });
    connect(tray_, &CTray::ExitRequested, this, [this] { HandleCommand(32774, {}); });
    connect(tray_, &CTray::AutoStartToggled, this, [this] { HandleCommand(32785, {}); });

    busyEnd_.setSingleShot(true);
    connect(&busyEnd_, &QTimer::timeout, this, &CMainWindow::EndBusy);
    connect(&exitStep1_, &QTimer::timeout, this, &CMainWindow::ShutDownStep1);
    connect(&exitStep2_, &QTimer::timeout, this, &CMainWindow::ShutDownStep2);
    connect(&firmwareCheck_, &QTimer::timeout, this, &CMainWindow::CheckFirmwareHour);
    connect(&networkWait_, &QTimer::timeout, this, &CMainWindow::WaitForNetwork);
    connect(&networkWatch_, &QTimer::timeout, this, &CMainWindow::WatchNetwork);
    connect(&catalogWatch_, &QTimer::timeout, this, &CMainWindow::WatchCatalogCheck);
    for (QTimer* balloon : {&downloadedBalloon_, &newFirmwareBalloon_, &diskFullBalloon_}) {
        balloon->setSingleShot(true);
    }
    connect(&downloadedBalloon_, &QTimer::timeout, this, &CMainWindow::ShowDownloadedBalloon);
    connect(&newFirmwareBalloon_, &QTimer::timeout, this, &CMainWindow::ShowNewFirmwareBalloon);
    connect(&diskFullBalloon_, &QTimer::timeout, this, &CMainWindow::ShowDiskFullBalloon);
    connect(&schedulerRetry_, &QTimer::timeout, this, &CMainWindow::StartScheduler);

    CreatePages();
    tray_->SetAutoStartProbe([this] { return settings_.AutoStartEntryExists(); });
    connect(settingsPage_, &CSettingsPage::AutoStartSwitched, tray_, &CTray::ShowAutoStart);
    CreateServices();
    running_ = true;
    currentPage_ = kUpgradePage;
    LoadMainTexts();
    if (const auto problem = settings_.Problem()) {
        SayFileProblem("SettingsUnreadable",
                       "The settings file %1 cannot be read (%2). The program uses its default "
                       "settings.",
                       problem->File, problem->Reason);
    }
    StartScheduler();
    QTimer::singleShot(100, this, &CMainWindow::StartupRoutine);
}

CMainWindow::~CMainWindow() {
    // A window closed without Exit (a test, a crash path) still lets go of its workers
    // before the pages they report to go; the program itself always ends through the
    // shut-down, which has already emptied these.
    if (running_) {
        downloadPage_->Detach();
        upgradePage_->Detach();
        DeleteServices();
    }
}

void CMainWindow::CreatePages() {
    downloadPage_ = new CDownloadPage(*this, this);
    upgradePage_ = new CUpgradePage(*this, this);
    schedulePage_ = new CSchedulePage(*this, schedule_, this);
    settingsPage_ = new CSettingsPage(*this, settings_, this);
    for (CPage* page : {static_cast<CPage*>(downloadPage_), static_cast<CPage*>(upgradePage_),
                        static_cast<CPage*>(schedulePage_), static_cast<CPage*>(settingsPage_)}) {
        page->setGeometry(skin::kPageRect);
        page->hide();
    }
    upgradePage_->show();
}

void CMainWindow::CreateServices() {
    CoreServiceOptions options;
    options.HistoryFile = DefaultHistoryFile();
    options.StorageFolder =
        setup_.StorageFolder.empty() ? ResolveStorageFolder(settings_) : setup_.StorageFolder;
    options.ServerBase = setup_.ServerBase.empty() ? ResolveServerBase(settings_)
                                                   : WithoutTrailingSlashes(setup_.ServerBase);
    options.Network = setup_.Network;
    options.Upgrades = true;
    options.UpgradeRunner = setup_.UpgradeRunner;
    options.LateWatchMs = kLateWatchMs;
    options.HistoryProblemHandler = HistoryProblemHandler();
    downloadManager_ = std::make_unique<CDownloadManager>(clock_, setup_.FreeSpace);
    services_ = std::make_unique<CCoreServices>(clock_, std::move(options));
    // The devices a run cut short left in flight are looked at once, by a program that
    // may reach the network at start. It keeps no passwords: the default one is tried
    // (scheduled devices are the runner's, with their entries' log-in).
    if (setup_.SearchAtStart) {
        inFlightReview_ =
            std::jthread([journal = services_->Journal(), history = services_->HistoryFile()] {
                ReviewInFlight(
                    journal, InFlightOrigin::Upgrade, history,
                    [](const InFlightDevice&) { return std::string(kDefaultDevicePassword); });
            });
    }
    CFirmwareCatalog& catalog = *services_->Catalog();
    CCameraTable& table = services_->Table();
    CCameraControl& control = services_->Control();
    coordinator_ = std::make_unique<CDownloadCoordinator>(*downloadManager_, catalog);

    downloadPage_->SetNetworkProbe(setup_.Network);
    coordinator_->AddPage(downloadPage_);
    // A check ends in commands to this window, which hands them on to the page.
    checkCommands_ = std::make_unique<CCheckCommands>(
        table, [this](int command, const CIPCamInfo& record) { PostCommand(command, record); });
    CCredentialChecks& checks = services_->AddCredentialChecks(*checkCommands_);
    services_->Attach(*upgradePage_);
    upgradePage_->SetServices(control, table, checks, setup_.SearchAtStart);
    // The runner saves with the file lock held and keeps other processes' changes.
    const ScheduleSaver save = [this](QObject& context, auto done) {
        SaveSchedule(context, std::move(done));
    };
    upgradePage_->SetSchedule(schedule_, save);
    upgradePage_->SetInventorySource(&catalog, services_->HistoryFile());
    settingsPage_->SetProxyApplier([this](const ServerProxy& proxy) {
        services_->Catalog()->SetServerProxy(proxy);
        downloadManager_->SetServerProxy(proxy);
    });
    // Read from the settings file at each use: the schedule's tick thread reads it too.
    const auto batchPolicy = [this] {
        BatchPolicy policy;
        policy.FirstOfEachModel = settings_.FirstOfEachModel();
        policy.MaxFailures = settings_.MaxFailures();
        return policy;
    };
    upgradePage_->SetBatchPolicySource(batchPolicy);
    connect(this, &CMainWindow::DeviceCommand, upgradePage_, &CUpgradePage::DeviceCommand);
    ScheduleServiceOptions scheduled;
    scheduled.SchedulePath = schedulePath_;
    // A program that may search also finds a scheduled device back at a new address.
    scheduled.FindDevicesBack = setup_.SearchAtStart;
    scheduled.HistoryProblemHandler = HistoryProblemHandler();
    // Scheduled batches get the Setting page's guards, and their late devices the watch.
    scheduled.BatchPolicySource = batchPolicy;
    scheduled.LateWatchMs = kLateWatchMs;
    CScheduleRunner& runner =
        services_->AddScheduleRunner(schedule_, *schedulePage_, std::move(scheduled));
    // The list as loaded is the file as it was: the start comes later, off this thread,
    // and the pages may change the list meanwhile.
    runner.AdoptList();
    scheduleFiles_ = std::make_unique<CScheduleFileWorker>();
    schedulePage_->SetSaver(save);
}

CUpgradeManager* CMainWindow::UpgradeManager() {
    return services_ ? services_->UpgradeManager() : nullptr;
}

void CMainWindow::SaveSchedule(QObject& context, std::function<void(const QString&)> done) {
    // The services are going (or gone): nothing is saved any more.
    if (!running_) {
        done(QStringLiteral("the program is ending"));
        return;
    }
    scheduleFiles_->Run<QString>(
        [runner = services_->ScheduleRunner()] {
            std::string error;
            if (runner->Save(&error)) return QString();
            return error.empty() ? QStringLiteral("the file cannot be written") : ToQ(error);
        },
        &context, std::move(done));
}

void CMainWindow::StartScheduler() {
    if (schedulerStarting_ || !running_ || exitRequested_) return;
    schedulerStarting_ = true;
    struct Started {
        int Code = rc::kOk;
        QString Error;
    };
    scheduleFiles_->Run<Started>(
        [runner = services_->ScheduleRunner()] {
            std::string error;
            const int code = runner->Start(&error);
            // The other process's progress shows here as it reaches the file.
            if (code != rc::kOk) runner->Refresh();
            return Started{code, ToQ(error)};
        },
        this, [this](const Started& started) { SchedulerStartEnded(started.Code, started.Error); });
}

void CMainWindow::SchedulerStartEnded(int started, const QString& error) {
    schedulerStarting_ = false;
    if (started == rc::kOk) {
        schedulerRetry_.stop();
        if (schedulePage_->SchedulerRefused()) {
            schedulePage_->SetSchedulerRefused(false);
            schedulePage_->Refill();
        }
        return;
    }
    if (!schedulePage_->SchedulerRefused()) Trace("schedule: %s\n", ToStd(error).c_str());
    schedulePage_->SetSchedulerRefused(true, started == kScheduleRunElsewhere ? QString() : error);
    // The shut-down stops the retries; one that began meanwhile does not start them again.
    if (!exitRequested_) schedulerRetry_.start(kSchedulerRetryMs);
}

CPage* CMainWindow::PageAt(int page) const {
    switch (page) {
        case kUpgradePage:
            return upgradePage_;
        case kSchedulePage:
            return schedulePage_;
        case kSettingPage:
            return settingsPage_;
        default:
            return downloadPage_;
    }
}

void CMainWindow::LoadMainTexts() {
    CLayoutTexts& texts = *texts_;
    // Choosing the file decides the reading order: right-to-left for Hebrew only.
    texts.GetLayoutFilePath();
    QApplication::setLayoutDirection(texts.RightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    setWindowTitle(ToQ(texts.ReadLayoutText("Main", "Caption", "Strelvane")));
    ApplyControlStyle(exit_, texts.ReadControlStyle("Main.Style", "ExitButton", ""), "ExitButton");
    ApplyControlStyle(minimise_, texts.ReadControlStyle("Main.Style", "MinButton", ""),
                      "MinButton");
    for (size_t i = 0; i < tabs_.size(); ++i) {
        const ControlStyle style = texts.ReadControlStyle("Main.Style", kTabKeys[i], kTabTexts[i]);
        ApplyControlStyle(*tabs_[i], style, kTabKeys[i]);
        tabs_[i]->setText(ToQ(style.Text));
        tabs_[i]->SetCurrent(static_cast<int>(i) == currentPage_);
    }
    ApplyControlStyle(versionLabel_, texts.ReadControlStyle("Main.Style", "VerLabel", "v1.0.0.0"),
                      "VerLabel");
    versionLabel_.setText(version_);
    const ControlStyle notice = texts.ReadControlStyle(
        "Main.Style", "CopyrightLabel", "Firmware maintenance for network cameras and recorders");
    ApplyControlStyle(notice_, notice, "CopyrightLabel");
    notice_.setText(ToQ(notice.Text));
    const ControlStyle title =
        texts.ReadControlStyle("Main.Style", "TitleLabel", "Software Group Update");
    ApplyControlStyle(title_, title, "TitleLabel");
    title_.setText(ToQ(title.Text));
    const ControlStyle prompt =
        texts.ReadControlStyle("Main.Style", "PromptLabel",
                               "After successfully upgrading, double-click a device to access it.");
    ApplyControlStyle(prompt_, prompt, "PromptLabel");
    prompt_.setText(ToQ(prompt.Text));
    tray_->ReloadTexts(texts);
    update();
}

void CMainWindow::ShowPage(int page) {
    if (page == currentPage_) return;
    currentPage_ = page;
    LoadMainTexts();
    for (int p = kUpgradePage; p <= kFirmwarePage; ++p) PageAt(p)->setVisible(p == page);
    update();
}

void CMainWindow::ApplyLanguage(int languageId) {
    texts_->SetLanguage(languageId);
    UseFontsFor(languageId);
    LoadMainTexts();
    upgradePage_->ReloadTexts();
    schedulePage_->ReloadTexts();
    settingsPage_->ReloadTexts();
    // Every page follows at once, the firmware page too.
    downloadPage_->ReloadTexts();
}

void CMainWindow::BeginBusy() {
    busy_ = true;
    for (size_t i = 0; i < tabs_.size(); ++i) {
        if (static_cast<int>(i) != currentPage_) tabs_[i]->setEnabled(false);
    }
}

void CMainWindow::EndBusySoon() { busyEnd_.start(kBusyEndMs); }

void CMainWindow::EndBusy() {
    busy_ = false;
    tabs_[kUpgradePage]->setEnabled(true);
    // An upgrade run keeps the program on the upgrade page until it ends.
    const bool free = !upgradePage_->IsRunInProgress();
    for (int page : {kSchedulePage, kSettingPage, kFirmwarePage}) {
        tabs_[static_cast<size_t>(page)]->setEnabled(free);
    }
    upgradePage_->RestoreAfterBusy();
}

void CMainWindow::LockTabs() {
    for (CSkinButton* tab : tabs_) tab->setEnabled(false);
    upgradePage_->hide();
    upgradePage_->PrepareRun();
    upgradePage_->setVisible(currentPage_ == kUpgradePage);
}

void CMainWindow::UnlockTabs() {
    for (CSkinButton* tab : tabs_) tab->setEnabled(true);
    upgradePage_->hide();
    upgradePage_->ResetRun();
    upgradePage_->setVisible(currentPage_ == kUpgradePage);
}

void CMainWindow::SetWaitCursor(bool wait) {
    if (wait) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void CMainWindow::PostCommand(int command, const CIPCamInfo& record) {
    QMetaObject::invokeMethod(
        this, [this, command, record] { HandleCommand(command, record); }, Qt::QueuedConnection);
}

void CMainWindow::HandleCommand(int command, const CIPCamInfo& record) {
    switch (command) {
        case 1000:
        case 32774:
            RequestExit();
            break;
        case 1012:
            showMinimized();
            break;
        case 1013:
        case 1014:
        case 1015:
        case 1016:
            ShowPage(command - 1013);
            break;
        case 19:
            schedulePage_->UpdateWarning();
            break;
        case 20:
            schedulePage_->UpdateWarning();
            // A device upgraded on schedule runs other firmware than its row shows.
            upgradePage_->RequestRefresh();
            break;
        case 32773:
            showNormal();
            raise();
            activateWindow();
            break;
        case 32785:
            // The same switch as the Setting page's box: both show what now exists.
            settings_.SetAutoStart(!settings_.AutoStartEntryExists());
            tray_->ShowAutoStart();
            settingsPage_->ShowAutoStart();
            break;
        case 32790:
            ShowFromAnotherStart();
            break;
        case 32786:
        case 32787:
        case 32788:
        case 32789:
        case 32791:
        case 32792:
            emit DeviceCommand(command, record);
            break;
        default:
            break;
    }
}

void CMainWindow::ShowFromAnotherStart() {
    Trace("==========Exist AP to show begin!!==========\r\n");
    showNormal();
    raise();
    activateWindow();
    Trace("==========Exist AP to show end!!==========\r\n");
}

void CMainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::PaintWindow(painter, rect());
}

void CMainWindow::mousePressEvent(QMouseEvent* event) {
    // The whole client area is the title bar: a press anywhere not taken by a control
    // moves the window.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

namespace {

// A list or a field the user types into: Enter there belongs to it, never to the window.
bool TakesEnter(const QWidget* focus) {
    for (const QWidget* w = focus; w; w = w->parentWidget()) {
        if (qobject_cast<const QAbstractItemView*>(w)) return true;
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(focus)) return !line->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(focus)) return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox*>(focus) || qobject_cast<const QTextEdit*>(focus) ||
           qobject_cast<const QPlainTextEdit*>(focus);
}

}  // namespace

void CMainWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && TakesEnter(QApplication::focusWidget())) {
        event->accept();
        return;
    }
    if (enter || event->key() == Qt::Key_Escape) {
        // Hidden, not ended: the tray or another start brings the window back.
        hide();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    // Closing hides: downloads and the scheduler go on; Exit ends the program.
    event->ignore();
    hide();
}
