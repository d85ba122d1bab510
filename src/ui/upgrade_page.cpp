#include "ui/upgrade_page.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMetaObject>
#include <QUrl>
#include <QVBoxLayout>

#include "base/http_url.h"
#include "layout/layout_language.h"
#include "layout/layout_texts.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_list.h"
#include "ui/check_commands.h"
#include "ui/message_dlg.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "upgrade/batch_plan.h"
#include "upgrade/credential_check.h"
#include "upgrade/image_file.h"
#include "upgrade/upgrade_manager.h"
#include "upgrade/upgrade_progress.h"
#include "web/device_queries.h"

namespace {

constexpr const char* kSection = "Upgrade1Page";
constexpr const char* kDefaultPassword = "vqmtz";
constexpr const char* kUser = "admin";
// Device-list fields beyond the common ones: model, check result, status, states.
constexpr int kModel = 10;
constexpr int kVersion = 7;
constexpr int kStatus = 13;
constexpr int kKey = 4;
constexpr int kPasswordState = 15;
constexpr int kFinished = 16;
constexpr int kName = 2;

// Devices of one old generation report their version as "100".
QString VersionShown(const std::string& version) {
    return version == "100" ? QStringLiteral("v2.3.7.8") : ToQ(version);
}

QString AddressText(const CIPCamInfo& record) {
    return ToQ(record.HostAddress) + ":" + QString::number(record.GetPort());
}

}  // namespace

CUpgradePage::CUpgradePage(IMainFrame& frame, QWidget* parent)
    : CPage(frame, kSection, parent),
      fileGroup_(this),
      firmwarePath_(this),
      browse_(CSkinButton::Kind::Push, this),
      description_(this),
      prompt_(this),
      listArea_(this),
      deviceList_(&listArea_),
      statusList_(&listArea_),
      selectAll_(CSkinButton::Kind::Push, this),
      deselectAll_(CSkinButton::Kind::Push, this),
      add_(CSkinButton::Kind::Push, this),
      search_(CSkinButton::Kind::Push, this),
      upgrade_(CSkinButton::Kind::Push, this),
      back_(CSkinButton::Kind::Push, this) {
    firmwarePath_.setReadOnly(true);
    skin::MakeListPlace(listArea_);
    auto* lists = new QVBoxLayout(&listArea_);
    lists->setContentsMargins(1, 1, 1, 1);
    lists->addWidget(&deviceList_);
    lists->addWidget(&statusList_);
    deviceList_.setObjectName("DeviceList");
    statusList_.setObjectName("StatusList");
    skin::SetTextColour(prompt_, skin::kCaption);
    skin::SetTextColour(description_, skin::kCaption);
    prompt_.setWordWrap(true);
    description_.setWordWrap(true);
    messenger_ = [this](const QString& text, bool question) { return MessageBox(text, question); };
    fileChooser_ = [this] {
        return QFileDialog::getOpenFileName(this, QString(), firmwarePath_.text(),
                                            "Firmware image(*.bin *.img)");
    };
    popupRunner_ = [](CMessageDlg& popup) {
        popup.exec();
        return popup.Result();
    };
    connect(&add_, &QAbstractButton::clicked, this, &CUpgradePage::AddByAddress);
    connect(&browse_, &QAbstractButton::clicked, this, &CUpgradePage::Browse);
    connect(&search_, &QAbstractButton::clicked, this, &CUpgradePage::Search);
    connect(&upgrade_, &QAbstractButton::clicked, this, &CUpgradePage::Upgrade);
    connect(&back_, &QAbstractButton::clicked, this, &CUpgradePage::Back);
    connect(&selectAll_, &QAbstractButton::clicked, this, &CUpgradePage::SelectAll);
    connect(&deselectAll_, &QAbstractButton::clicked, this, &CUpgradePage::CancelAll);
    connect(&deviceList_, &CBasicListCtrl::PasswordTyped, this, &CUpgradePage::PasswordTyped);
    connect(&deviceList_, &QAbstractItemView::doubleClicked, this,
            &CUpgradePage::DeviceDoubleClicked);
    connect(&statusList_, &QAbstractItemView::doubleClicked, this,
            &CUpgradePage::StatusDoubleClicked);
    refresh_.setInterval(100);
    connect(&refresh_, &QTimer::timeout, this, &CUpgradePage::RefreshDeviceList);
    searchWatch_.setInterval(1000);
    connect(&searchWatch_, &QTimer::timeout, this, &CUpgradePage::WatchSearch);
    firstSearch_.setSingleShot(true);
    firstSearch_.setInterval(1000);
    connect(&firstSearch_, &QTimer::timeout, this, &CUpgradePage::Search);
    ReloadTexts();
    ShowDeviceView();
}

void CUpgradePage::SetServices(CCameraControl& control, CCameraTable& table,
                               CCredentialChecks& checks, bool searchSoon) {
    control_ = &control;
    table_ = &table;
    checks_ = &checks;
    refresh_.start();
    if (searchSoon) firstSearch_.start();
}

void CUpgradePage::ReloadTexts() {
    fileGroup_.SetCaption(ToQString(Place(fileGroup_, "FileGroup", "File to upload")),
                          skin::kCaption);
    firmwarePath_.setPlaceholderText(
        ToQString(Place(firmwarePath_, "EditBrowse", "Select the update file")));
    browse_.setText(ToQString(Place(browse_, "BrowseButton", "Browse")));
    PlaceDescription();
    prompt_.setText(
        ToQString(Place(prompt_, "PromptLabel",
                        "After successfully upgrading, double-click a device to access it.")));
    Place(listArea_, "CameraList", "");
    // Both lists sit in the list place; their names are the list's layout key.
    deviceList_.setAccessibleName("CameraList");
    statusList_.setAccessibleName("StatusList");
    selectAll_.setText(ToQString(Place(selectAll_, "SelectAllButton", "Select All")));
    deselectAll_.setText(ToQString(Place(deselectAll_, "DeselectAllButton", "Cancel All")));
    add_.setText(ToQString(Place(add_, "ManualAddNVRButton", "Add")));
    search_.setText(ToQString(Place(search_, "SearchButton", "Search")));
    upgrade_.setText(ToQString(Place(upgrade_, "UpgradeButton", "Upgrade")));
    back_.setText(ToQString(Place(back_, "BackButton", "Back")));
    SetListHeadings();
    const QString face = ToQ(FontFaceName(frame_.Texts().FontChoice()));
    deviceList_.SetFonts(face);
    statusList_.SetFonts(face);
    update();
}

void CUpgradePage::SetListHeadings() {
    const QString number = PageText("NoField", "No");
    const QString name = PageText("UPnPField", "Device Name");
    const QString model = PageText("ModelField", "Model Name");
    const QString address = PageText("IPField", "IP Address");
    const QString firmware = PageText("FirmwareField", "Current Device");
    deviceList_.SetColumns(
        {QString(), number, name, model, address, firmware, PageText("PasswordField", "Password")},
        {40, 50, 150, 150, 150, 200, 200});
    deviceList_.SetPromptText(PageText("PromptText", "<Enter password>"));
    deviceList_.SetPassText(PageText("Pass", "Passed"));
    // The status list adds the version the device runs: before the upgrade, then as it
    // names it after its return.
    statusList_.SetColumns(
        {number, name, model, address, firmware, PageText("StatusField", "Status")},
        {50, 150, 130, 130, 120, 420});
}

void CUpgradePage::SetCommandsVisible(bool visible) {
    for (CSkinButton* button : {&selectAll_, &deselectAll_, &add_, &search_, &upgrade_}) {
        button->setVisible(visible);
    }
}

void CUpgradePage::ShowDeviceView() {
    SetCommandsVisible(true);
    back_.hide();
    prompt_.hide();
    statusList_.hide();
    deviceList_.show();
    statusShown_ = false;
    PlaceDescription();
}

void CUpgradePage::ShowStatusView() {
    SetCommandsVisible(false);
    back_.hide();
    prompt_.show();
    deviceList_.hide();
    statusList_.show();
    statusShown_ = true;
    PlaceDescription();
}

void CUpgradePage::PlaceDescription() {
    if (statusShown_) {
        description_.setText(ToQString(Place(description_, "Description1Label",
                                             "DO NOT unplug the power cord and ethernet cable "
                                             "during the firmware upgrade process.")));
    } else {
        description_.setText(ToQString(Place(description_, "DescriptionLabel",
                                             "Please select the device to upgrade firmware")));
    }
}

bool CUpgradePage::Say(std::string_view section, std::string_view key, std::string_view def,
                       bool question) {
    return messenger_(Text(section, key, def), question);
}

void CUpgradePage::RestoreAfterBusy() { search_.setEnabled(true); }

void CUpgradePage::Detach() {
    detached_ = true;
    // The services go next; the timers would reach them.
    refresh_.stop();
    searchWatch_.stop();
    firstSearch_.stop();
}

void CUpgradePage::PrepareRun() {
    running_ = true;
    ShowStatusView();
}

void CUpgradePage::ResetRun() {
    running_ = false;
    // The results stay on screen until the user goes back to the device list.
    back_.show();
}

bool CUpgradePage::ChecksRunning() const {
    if (!table_) return false;
    for (int row = 0; row < deviceList_.RowCount(); ++row) {
        const std::optional<CIPCamInfo> record =
            table_->Find(ToStd(deviceList_.GetField(row, kKey)));
        if (record && record->CheckDone == 0) return true;
    }
    return false;
}

void CUpgradePage::Search() {
    if (!control_ || ChecksRunning()) return;
    firstSearch_.stop();
    {
        std::lock_guard lock(queueLock_);
        newDevices_.clear();
    }
    deviceList_.DeleteAllRows();
    search_.setEnabled(false);
    frame_.BeginBusy();
    control_->StartSearch();
    searchWatch_.start();
}

void CUpgradePage::WatchSearch() {
    {
        std::lock_guard lock(queueLock_);
        if (!newDevices_.empty()) return;
    }
    // Devices keep reporting while the search listens.
    if (control_->IsSearching() || ChecksRunning()) return;
    searchWatch_.stop();
    // Only the search's busy state ends here: an upgrade run begun meanwhile goes on
    // until the upgrade manager says it has ended.
    frame_.EndBusySoon();
}

void CUpgradePage::RefreshDeviceList() {
    // Up to a batch per tick: a LAN of 200 devices is listed in a moment, and no tick
    // holds the user-interface thread for long.
    constexpr size_t kBatch = 32;
    std::vector<std::string> keys;
    {
        std::lock_guard lock(queueLock_);
        while (!newDevices_.empty() && keys.size() < kBatch) {
            keys.push_back(std::move(newDevices_.front()));
            newDevices_.pop_front();
        }
    }
    for (const std::string& key : keys) {
        if (deviceList_.FindRow(kKey, ToQ(key)) >= 0) continue;
        if (std::optional<CIPCamInfo> record = table_->Find(key)) {
            AddDeviceRow(*record);
            checks_->Start(key);
        }
    }
}

void CUpgradePage::AddDeviceRow(const CIPCamInfo& record) {
    const int row = deviceList_.InsertRow(field::kCheck, record.LoginOk == 1 ? "1" : "0");
    deviceList_.AddField(row, field::kNumber, QString::number(row + 1));
    deviceList_.AddField(row, kName, ToQ(record.DeviceName));
    deviceList_.AddField(row, kModel, ToQ(record.ModelName));
    deviceList_.AddField(row, field::kAddress, AddressText(record));
    deviceList_.AddField(row, kVersion, VersionShown(record.FirmwareVersion));
    deviceList_.AddField(row, field::kPassword, ToQ(record.Password));
    deviceList_.AddHiddenField(row, kKey, ToQ(record.DeviceId));
    // No password store is kept, so no row starts with a remembered one.
    deviceList_.AddHiddenField(row, kPasswordState, "0");
    deviceList_.AddHiddenField(row, kFinished, "0");
}

void CUpgradePage::DeviceCommand(int command, const CIPCamInfo& record) {
    if (detached_) return;
    if (command == command::kDeviceAddedByHand) {
        if (deviceList_.FindRow(kKey, ToQ(record.DeviceId)) < 0) AddDeviceRow(record);
        return;
    }
    const int row = deviceList_.FindRow(kKey, ToQ(record.DeviceId));
    if (row < 0) return;
    switch (command) {
        case command::kCheckPassed:
            deviceList_.SetCellPrompt(row, QString());
            if (record.FirmwareVersion.empty()) {
                deviceList_.SetField(
                    row, kVersion,
                    PageText("InvalidUsernamePassword", "Invalid Username and Password"));
                break;
            }
            deviceList_.SetField(row, field::kPassword, ToQ(record.Password));
            deviceList_.SetField(row, kVersion, VersionShown(record.FirmwareVersion));
            // A camera names its maker and model, and the address that answered, once
            // logged in to.
            if (record.Protocol == DeviceProtocol::Onvif) {
                deviceList_.SetField(row, kModel, ToQ(record.ModelName));
                deviceList_.SetField(row, field::kAddress, AddressText(record));
            }
            deviceList_.SetPasswordPassed(row);
            break;
        case command::kCheckFailed:
            deviceList_.SetCellPrompt(row, QString());
            deviceList_.SetField(row, kVersion, PageText("ConnectError", "Connect Error"));
            break;
        case command::kNvrLoginFailed:
            deviceList_.SetField(row, field::kPassword, QString());
            deviceList_.SetCellPrompt(row, PageText("PromptFailedText", "Failed"));
            break;
        case command::kServerUnreachable:
            deviceList_.SetField(row, kPasswordState, "2");
            deviceList_.SetCellPrompt(
                row, PageText("ConnectServerError", "Cannot connect to the server."));
            break;
        default:
            break;
    }
}

void CUpgradePage::PasswordTyped(int row) {
    if (!table_ || !checks_) return;
    const std::string key = ToStd(deviceList_.GetField(row, kKey));
    const std::string password = ToStd(deviceList_.GetField(row, field::kPassword));
    deviceList_.SetCellPrompt(row, PageText("Connecting", "Connecting"));
    const std::optional<CIPCamInfo> record = table_->Find(key);
    if (!record || record->CheckDone != 1) return;
    table_->Modify(key, [&](CIPCamInfo& r) {
        r.Password = password;
        r.UserName = kUser;
        r.NvrLoginPending = 1;
    });
    deviceList_.SetField(row, kVersion, QString());
    checks_->Start(key);
}

void CUpgradePage::Browse() {
    const QString path = fileChooser_();
    if (!path.isEmpty()) ChooseImage(path);
}

bool CUpgradePage::ChooseImage(const QString& path) {
    // Only a file that holds an image (its mark first, or as the store keeps it) may go
    // to the maker's devices. Another file can only be an ONVIF camera maker's own image,
    // taken while such cameras are listed, for them alone.
    const bool marked = IsFirmwareImage(ToStd(path));
    const QFileInfo file(path);
    if (!marked && !(ListsCameras() && file.isFile() && file.isReadable() && file.size() > 0)) {
        Say("ErrorCode", "Code_406", "Failed! Please check the firmware file.");
        return false;
    }
    imagePath_ = path;
    camerasOnly_ = !marked;
    firmwarePath_.setText(path);
    ApplyImage();
    return true;
}

void CUpgradePage::ApplyImage() {
    if (!control_) return;
    if (camerasOnly_) {
        control_->ClearManualImage();
        control_->SetCameraImage(ToStd(imagePath_));
    } else {
        control_->ClearCameraImage();
        control_->SetManualImage(ToStd(imagePath_));
    }
}

bool CUpgradePage::IsCamera(const std::string& key) const {
    const std::optional<CIPCamInfo> record = table_ ? table_->Find(key) : std::nullopt;
    return record && record->Protocol == DeviceProtocol::Onvif;
}

bool CUpgradePage::ListsCameras() const {
    for (int row = 0; row < deviceList_.RowCount(); ++row) {
        if (IsCamera(ToStd(deviceList_.GetField(row, kKey)))) return true;
    }
    return false;
}

void CUpgradePage::Upgrade() {
    if (imagePath_.isEmpty()) {
        Say("UI_PopupMessage", "Msg8", "Please select firmware file first.");
        return;
    }
    if (!control_ || !table_) return;
    int selected = 0;
    int failed = 0;
    int wrongImage = 0;  // the maker's devices ticked with a camera maker's image
    for (int row = 0; row < deviceList_.RowCount(); ++row) {
        const std::string key = ToStd(deviceList_.GetField(row, kKey));
        QString password = deviceList_.GetField(row, field::kPassword);
        if (password.isEmpty()) password = kDefaultPassword;
        if (const std::optional<CIPCamInfo> record = table_->Find(key)) {
            password = ToQ(record->Password);
        }
        const bool checked = deviceList_.IsChecked(row);
        control_->SetDeviceCredentials(key, kUser, ToStd(password), checked ? 1 : 0);
        if (!checked) continue;
        ++selected;
        wrongImage += camerasOnly_ && !IsCamera(key);
        const QString version = deviceList_.GetField(row, kVersion);
        if (password.isEmpty() || password == PageText("PromptFailedText", "Failed") ||
            version.isEmpty() || version == PageText("ConnectError", "Connect Error")) {
            ++failed;
        }
    }
    if (selected == 0) {
        Say("UI_PopupMessage", "Msg2", "Please select a device first.");
        return;
    }
    if (failed > 0) {
        Say("UI_PopupMessage", "Msg7", "Please enter the correct password.");
        return;
    }
    if (wrongImage > 0) {
        Say("ErrorCode", "Code_406", "Failed! Please check the firmware file.");
        return;
    }
    CMessageDlg when(frame_.Texts(), CMessageDlg::kWhenToUpgrade, lastChosenTime_, false, this);
    when.SetMessenger([this](const QString& text) { messenger_(text, false); });
    when.SetFirmwarePath(imagePath_);
    const int64_t choice = popupRunner_(when);
    if (choice < 0) return;
    // The popup's own Browse may have chosen another image; it goes through the same test.
    if (when.FirmwarePath() != imagePath_ && !ChooseImage(when.FirmwarePath())) return;
    if (choice > 0) {
        lastChosenTime_ = choice;
        ScheduleChecked(choice, when.Until());
        return;
    }
    const BatchPolicy policy = batchPolicy_ ? batchPolicy_() : BatchPolicy{};
    const QString notice =
        Text("UI_PopupMessage", "Msg3",
             "Please note the video streaming will be disconnected during the firmware upgrade "
             "process. The whole upgrade process will take around %s minutes.")
            .replace("%s", "7") +
        "\n\n" + PlanText(policy);
    if (!messenger_(notice, true)) return;
    statusList_.DeleteAllRows();
    ApplyImage();
    ShowStatusView();
    control_->StartUpgrade(1, policy);
}

QString CUpgradePage::PlanText(const BatchPolicy& policy) {
    std::vector<std::string> models;
    for (int row = 0; row < deviceList_.RowCount(); ++row) {
        if (!deviceList_.IsChecked(row)) continue;
        const std::optional<CIPCamInfo> record =
            table_ ? table_->Find(ToStd(deviceList_.GetField(row, kKey))) : std::nullopt;
        models.push_back(record ? record->ModelName : ToStd(deviceList_.GetField(row, kModel)));
    }
    return ToQ(BatchPlanText(PlanBatch(models, policy, CUpgradeManager::kPlaces),
                             frame_.Texts().Lookup()));
}

void CUpgradePage::ScheduleChecked(int64_t time, const QString& until) {
    if (!schedule_ || !table_) return;
    int added = 0;
    for (int row = 0; row < deviceList_.RowCount(); ++row) {
        if (!deviceList_.IsChecked(row)) continue;
        const std::string key = ToStd(deviceList_.GetField(row, kKey));
        const std::optional<CIPCamInfo> record = table_->Find(key);
        if (!record) continue;
        CScheduleInfo entry;
        entry.IP = record->HostAddress;
        entry.Port = std::to_string(record->HttpsFlag == 1 ? record->HttpsPort : record->HttpPort);
        entry.Https = record->HttpsFlag == 1;
        entry.Account = record->UserName;
        entry.Password = record->Password;
        entry.Device = ToStd(deviceList_.GetField(row, kName));
        entry.Model = record->ModelName;
        // The run checks the MAC the device names; a searched device's key is no MAC.
        entry.MAC = record->MacAddress.empty() ? key : record->MacAddress;
        entry.Version = record->FirmwareVersion;
        entry.UpgradeTime = time;
        entry.Status = schedule_status::kWaiting;
        entry.FWPath = ToStd(imagePath_);
        entry.Until = ToStd(until);
        if (record->Protocol == DeviceProtocol::Onvif && !record->ServiceAddresses.empty()) {
            const std::optional<HttpUrl> service = ParseHttpUrl(record->ServiceAddresses.front());
            entry.OnvifService = service ? service->Path : "/onvif/device_service";
        }
        if (!IsCompleteScheduleEntry(entry)) continue;
        schedule_->Append(entry);
        ++added;
    }
    // Kept at once: a planned upgrade must survive the program's end or a crash.
    if (added > 0 && saveSchedule_) saveSchedule_();
}

void CUpgradePage::AddByAddress() {
    if (!control_) return;
    CMessageDlg entry(frame_.Texts(), CMessageDlg::kAddDevice, 0, false, this);
    entry.SetMessenger([this](const QString& text) { messenger_(text, false); });
    entry.SetDeviceAdder([control = control_](const std::string& host, int port,
                                              const std::string& user,
                                              const std::string& password) {
        return control->AddDeviceByAddress("http", host, port, user, password);
    });
    popupRunner_(entry);
}

void CUpgradePage::Back() {
    statusList_.DeleteAllRows();
    ShowDeviceView();
    Search();
}

void CUpgradePage::SelectAll() {
    // A device already upgraded in this run stays unticked.
    deviceList_.SetAllChecks(
        true, [this](int row) { return deviceList_.GetField(row, kFinished) != "0"; });
}

void CUpgradePage::CancelAll() { deviceList_.SetAllChecks(false); }

void CUpgradePage::OpenDevicePage(const std::string& deviceId) {
    if (!table_) return;
    if (const std::optional<CIPCamInfo> record = table_->Find(deviceId)) {
        // The user's own browser, through the desktop; never a shell.
        QDesktopServices::openUrl(QUrl(ToQ(BuildLoginPageUrl(*record))));
    }
}

void CUpgradePage::DeviceDoubleClicked(const QModelIndex& index) {
    // The password cell takes a double-click for typing.
    if (deviceList_.Model().flags(index) & Qt::ItemIsEditable) return;
    OpenDevicePage(ToStd(deviceList_.GetField(index.row(), kKey)));
}

void CUpgradePage::StatusDoubleClicked(const QModelIndex& index) {
    if (statusList_.GetField(index.row(), kFinished) != "1") {
        Say("UI_PopupMessage", "Msg5", "Device is upgrading.");
        return;
    }
    OpenDevicePage(ToStd(statusList_.GetField(index.row(), kKey)));
}

template <typename F>
void CUpgradePage::OnGuiThread(F&& call) {
    QMetaObject::invokeMethod(this, std::forward<F>(call), Qt::QueuedConnection);
}

void CUpgradePage::showEvent(QShowEvent* event) {
    CPage::showEvent(event);
    // Timer 0: the lists start over and a search follows a second later.
    // Results on screen stay until Back, which searches anyway.
    if (!refreshWanted_ || running_ || statusShown_ || !control_) return;
    refreshWanted_ = false;
    {
        std::lock_guard lock(queueLock_);
        newDevices_.clear();
    }
    deviceList_.DeleteAllRows();
    firstSearch_.start();
}

void CUpgradePage::Reset() {
    OnGuiThread([this] {
        deviceList_.DeleteAllRows();
        statusList_.DeleteAllRows();
    });
}

void CUpgradePage::DeviceFound(const CIPCamInfo& record) {
    std::lock_guard lock(queueLock_);
    newDevices_.push_back(record.DeviceId);
}

void CUpgradePage::DeviceDispatched(const CIPCamInfo& record) {
    OnGuiThread([this, record] {
        if (statusList_.FindRow(kKey, ToQ(record.DeviceId)) >= 0) return;
        const int row =
            statusList_.InsertRow(field::kNumber, QString::number(statusList_.RowCount() + 1));
        statusList_.AddField(row, kName, ToQ(record.DeviceName));
        statusList_.AddField(row, kModel, ToQ(record.ModelName));
        statusList_.AddField(row, field::kAddress, AddressText(record));
        statusList_.AddField(row, kVersion, VersionShown(record.FirmwareVersion));
        statusList_.AddField(row, kStatus, QString());
        statusList_.AddHiddenField(row, kKey, ToQ(record.DeviceId));
        statusList_.AddHiddenField(row, kFinished, "0");
    });
}

void CUpgradePage::DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                                int code) {
    OnGuiThread([this, report = UpgradeReport{deviceId, stage, seconds, percent, code, {}}] {
        ShowReport(report);
    });
}

void CUpgradePage::DeviceFinished(const UpgradeReport& report) {
    OnGuiThread([this, report] { ShowReport(report); });
}

void CUpgradePage::ShowReport(const UpgradeReport& report) {
    const int row = statusList_.FindRow(kKey, ToQ(report.DeviceId));
    if (row < 0) return;
    const bool final = report.Stage == stage::kFinished;
    // An early end or an upload's end without time left carries no progress: a failure
    // is followed at once by the final report, and a device is not upgraded until it is
    // back. Shown, either would read "Firmware upgrade successful.".
    if (!final && report.Seconds == 0 &&
        (report.Stage == stage::kEndedEarly || report.Stage == stage::kUploadEnded)) {
        return;
    }
    CLayoutTexts& texts = frame_.Texts();
    statusList_.SetField(row, kStatus,
                         ToQ(StatusCellText(report, [&texts](std::string_view s, std::string_view k,
                                                             std::string_view d) {
                             return texts.ReadLayoutText(s, k, d);
                         })));
    if (!final) return;
    statusList_.SetField(row, kFinished, "1");
    // What the device names now; empty when it named nothing after the attempt, rather
    // than the version it ran before.
    statusList_.SetField(row, kVersion, VersionShown(report.FirmwareVersion));
    if (report.Code != 0 || !table_) return;
    if (const std::optional<CIPCamInfo> record = table_->Find(report.DeviceId)) {
        statusList_.SetField(row, kName, ToQ(record->DeviceName));
        statusList_.SetField(row, field::kAddress, AddressText(*record));
    }
}

void CUpgradePage::Busy(bool busy) {
    OnGuiThread([this, busy] {
        if (detached_) return;
        if (busy) {
            search_.setEnabled(false);
            frame_.BeginBusy();
        } else {
            frame_.EndBusySoon();
        }
    });
}

void CUpgradePage::RunBegins() {
    OnGuiThread([this] {
        if (!detached_ && !running_) frame_.LockTabs();
    });
}

void CUpgradePage::RunEnds() {
    OnGuiThread([this] {
        if (detached_) return;
        if (running_) frame_.UnlockTabs();
        frame_.EndBusySoon();
    });
}

void CUpgradePage::RefreshTexts() {
    OnGuiThread([this] { ReloadTexts(); });
}
