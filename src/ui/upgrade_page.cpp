#include "ui/upgrade_page.h"

#include <algorithm>

#include <QFileInfo>
#include <QMetaObject>

#include "base/http_url.h"
#include "device/upgrade_progress.h"
#include "families/families.h"
#include "layout/layout_texts.h"
#include "pipeline/image_file.h"
#include "registry/camera_control.h"
#include "registry/camera_table.h"
#include "registry/credential_check.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_list.h"
#include "ui/check_commands.h"
#include "ui/inventory_export.h"
#include "ui/list_rules.h"
#include "ui/message_dlg.h"
#include "ui/qt_text.h"
#include "ui/skin.h"
#include "upgrade/batch_plan.h"
#include "upgrade/upgrade_manager.h"
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
constexpr int kPasswordState = device_field::kPasswordState;
constexpr int kFinished = 16;
constexpr int kName = 2;

// Devices of one old generation report their version as "100".
QString VersionShown(const std::string& version) {
    return version == "100" ? QStringLiteral("v2.3.7.8") : ToQ(version);
}

QString AddressText(const CIPCamInfo& record) {
    return ToQ(record.HostAddress) + ":" + QString::number(record.GetPort());
}

// The schedule entry that plans the device's upgrade with `image` at `time`.
CScheduleInfo PlannedEntry(const CIPCamInfo& record, const std::string& key,
                           const std::string& name, const std::string& image, int64_t time) {
    CScheduleInfo entry;
    entry.IP = record.HostAddress;
    entry.Port = std::to_string(record.HttpsFlag == 1 ? record.HttpsPort : record.HttpPort);
    entry.Https = record.HttpsFlag == 1;
    entry.Account = record.UserName;
    entry.Password = record.Password;
    entry.Device = name;
    entry.Model = record.ModelName;
    // The run checks the MAC the device names; a searched device's key is no MAC.
    entry.MAC = record.MacAddress.empty() ? key : record.MacAddress;
    entry.Version = record.FirmwareVersion;
    entry.UpgradeTime = time;
    entry.Status = schedule_status::kWaiting;
    entry.FWPath = image;
    return entry;
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
      back_(CSkinButton::Kind::Push, this),
      exportList_(CSkinButton::Kind::Push, this) {
    firmwarePath_.setReadOnly(true);
    skin::MakeListPlace(listArea_, {&deviceList_, &statusList_});
    // Both lists sit in the list place; the device list's name is the place's key.
    deviceList_.setObjectName("DeviceList");
    deviceList_.setAccessibleName("CameraList");
    statusList_.setAccessibleName("StatusList");
    deviceList_.SetRules(DeviceRowMayTick, DeviceCellColours);
    statusList_.setObjectName("StatusList");
    // Every check result and progress report finds its row by the device key.
    deviceList_.IndexField(kKey);
    statusList_.IndexField(kKey);
    skin::SetTextColour(prompt_, skin::kCaption);
    skin::SetTextColour(description_, skin::kCaption);
    prompt_.setWordWrap(true);
    description_.setWordWrap(true);
    fileChooser_ = FirmwareFileChooser(*this);
    inventoryChooser_ = InventoryFileChooser(*this);
    connect(&exportList_, &QAbstractButton::clicked, this, &CUpgradePage::ExportList);
    popupRunner_ = ModalPopupRunner();
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
    PlaceLists(listArea_, "CameraList", {&deviceList_, &statusList_});
    selectAll_.setText(ToQString(Place(selectAll_, "SelectAllButton", "Select All")));
    deselectAll_.setText(ToQString(Place(deselectAll_, "DeselectAllButton", "Cancel All")));
    add_.setText(ToQString(Place(add_, "ManualAddNVRButton", "Add")));
    exportList_.setText(ToQString(Place(exportList_, "ExportListButton", "Export list")));
    search_.setText(ToQString(Place(search_, "SearchButton", "Search")));
    upgrade_.setText(ToQString(Place(upgrade_, "UpgradeButton", "Upgrade")));
    back_.setText(ToQString(Place(back_, "BackButton", "Back")));
    SetListHeadings();
    // Cells already shown follow the language too.
    RenameStateTexts();
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

QString CUpgradePage::StatusTextOf(const UpgradeReport& report) {
    return ToQ(StatusCellText(report, frame_.Texts().Lookup()));
}

void CUpgradePage::RenameStateTexts() {
    // The texts a row's state puts into its cells, as they were last read.
    static constexpr std::pair<const char*, const char*> kStates[] = {
        {"Pass", "Passed"},
        {"Connecting", "Connecting"},
        {"ConnectError", "Connect Error"},
        {"InvalidUsernamePassword", "Invalid Username and Password"},
        {"ConnectServerError", "Cannot connect to the server."},
        {"PromptFailedText", "Failed"}};
    QHash<QString, QString> renamed;
    for (const auto& [key, def] : kStates) {
        const QString now = PageText(key, def);
        QString& shown = stateTexts_[key];
        if (!shown.isEmpty() && shown != now) renamed.insert(shown, now);
        shown = now;
    }
    deviceList_.RenameTexts(renamed, {kVersion, field::kPassword});
    for (int row = 0; row < statusList_.RowCount(); ++row) {
        const auto shown = shownReports_.find(ToStd(statusList_.GetField(row, kKey)));
        if (shown != shownReports_.end()) {
            statusList_.SetField(row, kStatus, StatusTextOf(shown->second));
        }
    }
}

void CUpgradePage::SetCommandsVisible(bool visible) {
    for (CSkinButton* button :
         {&selectAll_, &deselectAll_, &add_, &search_, &upgrade_, &exportList_}) {
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

void CUpgradePage::RestoreAfterBusy() { search_.setEnabled(true); }

void CUpgradePage::Detach() {
    MarkDetached();
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
        queuedKeys_.clear();
    }
    deviceList_.DeleteAllRows();
    ForgetTypedPasswords();
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
    // One insertion per tick: thousands of devices are listed without a stall.
    std::vector<CListRow> rows;
    std::vector<std::string> listed;
    for (const std::string& key : keys) {
        if (deviceList_.FindRow(kKey, ToQ(key)) >= 0 ||
            std::find(listed.begin(), listed.end(), key) != listed.end()) {
            continue;
        }
        if (std::optional<CIPCamInfo> record = table_->Find(key)) {
            rows.push_back(DeviceRow(*record, deviceList_.RowCount() + rows.size() + 1));
            listed.push_back(key);
        }
    }
    deviceList_.InsertRows(std::move(rows));
    for (const std::string& key : listed) checks_->Start(key);
}

CListRow CUpgradePage::DeviceRow(const CIPCamInfo& record, size_t number) const {
    CListRow row;
    const auto add = [&row](int id, const QString& text) {
        row.Ids.push_back(id);
        row.Texts.push_back(text);
    };
    add(field::kCheck, record.LoginOk == 1 ? "1" : "0");
    add(field::kNumber, QString::number(number));
    add(kName, ToQ(record.DeviceName));
    add(kModel, ToQ(record.ModelName));
    add(field::kAddress, AddressText(record));
    add(kVersion, VersionShown(record.FirmwareVersion));
    add(field::kPassword, ToQ(record.Password));
    row.Shown = static_cast<int>(row.Ids.size());
    add(kKey, ToQ(record.DeviceId));
    // No password store is kept, so no row starts with a remembered one.
    add(kPasswordState, "0");
    add(kFinished, "0");
    return row;
}

void CUpgradePage::AddDeviceRow(const CIPCamInfo& record) {
    deviceList_.InsertRows({DeviceRow(record, deviceList_.RowCount() + 1)});
}

void CUpgradePage::DeviceCommand(int command, const CIPCamInfo& record) {
    if (IsDetached()) return;
    if (command == command::kDeviceAddedByHand) {
        if (deviceList_.FindRow(kKey, ToQ(record.DeviceId)) < 0) AddDeviceRow(record);
        return;
    }
    const int row = deviceList_.FindRow(kKey, ToQ(record.DeviceId));
    if (row < 0 || Superseded(record)) return;
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
            if (FactsOf(record.Protocol).LoginIdentifies) {
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
    std::string password = ToStd(deviceList_.GetField(row, field::kPassword));
    // An emptied password is checked as the default one, and so named in the outcome.
    if (password.empty()) password = kDefaultPassword;
    deviceList_.SetCellPrompt(row, PageText("Connecting", "Connecting"));
    const std::optional<CIPCamInfo> record = table_->Find(key);
    if (!record) return;
    // Until it has been checked, the row has no result an upgrade could go by.
    deviceList_.SetField(row, kVersion, QString());
    if (record->CheckDone != 1) {
        // The running check tried the old password; this one follows when it ends.
        typedDuringCheck_[key] = TypedPassword{password, false};
        return;
    }
    typedDuringCheck_.erase(key);
    CheckTypedPassword(key, password);
}

void CUpgradePage::CheckTypedPassword(const std::string& key, const std::string& password) {
    table_->Modify(key, [&](CIPCamInfo& r) {
        r.Password = password;
        r.UserName = kUser;
        r.NvrLoginPending = 1;
    });
    checks_->Start(key);
}

bool CUpgradePage::Superseded(const CIPCamInfo& record) {
    const auto typed = typedDuringCheck_.find(record.DeviceId);
    if (typed == typedDuringCheck_.end()) return false;
    TypedPassword& pending = typed->second;
    if (record.Password == pending.Password) {
        // The outcome of the typed password itself.
        typedDuringCheck_.erase(typed);
        return false;
    }
    // The old password's outcome (each of its commands): the typed password is checked
    // once, when the first of them arrives.
    if (!pending.CheckStarted && table_ && checks_) {
        pending.CheckStarted = true;
        CheckTypedPassword(record.DeviceId, pending.Password);
    }
    return true;
}

void CUpgradePage::ForgetTypedPasswords() { typedDuringCheck_.clear(); }

void CUpgradePage::Browse() {
    const QString path = fileChooser_(firmwarePath_.text());
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
    return record && FactsOf(record->Protocol).CameraImage;
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
    if (!SelectionUsable(StoreCredentials())) return;
    const WhenChoice when = AskWhen();
    if (when.Time < 0) return;
    if (when.Time > 0) {
        lastChosenTime_ = when.Time;
        ScheduleChecked(when.Time, when.Until);
        return;
    }
    const BatchPolicy policy = batchPolicy_ ? batchPolicy_() : BatchPolicy{};
    if (ConfirmUpgradeNow(policy)) StartRun(policy);
}

CUpgradePage::Selection CUpgradePage::StoreCredentials() {
    Selection selection;
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
        ++selection.Ticked;
        selection.WrongImage += camerasOnly_ && !IsCamera(key);
        const QString version = deviceList_.GetField(row, kVersion);
        if (password.isEmpty() || password == PageText("PromptFailedText", "Failed") ||
            version.isEmpty() || version == PageText("ConnectError", "Connect Error")) {
            ++selection.Unusable;
        }
    }
    return selection;
}

bool CUpgradePage::SelectionUsable(const Selection& selection) {
    if (selection.Ticked == 0) {
        Say("UI_PopupMessage", "Msg2", "Please select a device first.");
        return false;
    }
    if (selection.Unusable > 0) {
        Say("UI_PopupMessage", "Msg7", "Please enter the correct password.");
        return false;
    }
    if (selection.WrongImage > 0) {
        Say("ErrorCode", "Code_406", "Failed! Please check the firmware file.");
        return false;
    }
    return true;
}

CUpgradePage::WhenChoice CUpgradePage::AskWhen() {
    CMessageDlg when(frame_.Texts(), CMessageDlg::kWhenToUpgrade, lastChosenTime_, false, this);
    when.SetMessenger(messenger_);
    when.SetFirmwarePath(imagePath_);
    const int64_t choice = popupRunner_(when);
    if (choice < 0) return {};
    // The popup's own Browse may have chosen another image; it goes through the same test.
    if (when.FirmwarePath() != imagePath_ && !ChooseImage(when.FirmwarePath())) return {};
    return {choice, when.Until()};
}

bool CUpgradePage::ConfirmUpgradeNow(const BatchPolicy& policy) {
    const QString notice =
        Text("UI_PopupMessage", "Msg3",
             "Please note the video streaming will be disconnected during the firmware upgrade "
             "process. The whole upgrade process will take around %s minutes.")
            .replace("%s", "7") +
        "\n\n" + PlanText(policy);
    return messenger_(notice, true);
}

void CUpgradePage::StartRun(const BatchPolicy& policy) {
    statusList_.DeleteAllRows();
    ApplyImage();
    // The run counts from here, not from its first notice: Exit must not go ahead while
    // the devices are still being asked for their models.
    PrepareRun();
    frame_.LockTabs();
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
    int planned = 0;
    QStringList leftOut;
    for (int row = 0; row < deviceList_.RowCount(); ++row) {
        if (!deviceList_.IsChecked(row)) continue;
        const std::string key = ToStd(deviceList_.GetField(row, kKey));
        const QString name = deviceList_.GetField(row, kName);
        const QString shown = name.isEmpty() ? deviceList_.GetField(row, field::kAddress) : name;
        const std::optional<CIPCamInfo> record = table_->Find(key);
        if (!record) {
            leftOut << shown + ": " +
                           Text("UI_PopupMessage", "NotListedReason",
                                "no longer listed; search again");
            continue;
        }
        CScheduleInfo entry = PlannedEntry(*record, key, ToStd(name), ToStd(imagePath_), time);
        entry.Until = ToStd(until);
        if (FactsOf(record->Protocol).ServiceAddressed && !record->ServiceAddresses.empty()) {
            const std::optional<HttpUrl> service = ParseHttpUrl(record->ServiceAddresses.front());
            entry.OnvifService = service ? service->Path : "/onvif/device_service";
        }
        if (!IsCompleteScheduleEntry(entry)) {
            leftOut << shown + ": " + IncompleteReason(entry);
            continue;
        }
        schedule_->Append(entry);
        ++planned;
    }
    QString summary = Text("UI_PopupMessage", "PlannedDevices", "Upgrade planned for %d device(s).")
                          .replace("%d", QString::number(planned));
    if (!leftOut.isEmpty()) {
        summary += "\n" + Text("UI_PopupMessage", "LeftOutDevices", "Left out:") + "\n" +
                   leftOut.join("\n");
    }
    if (planned == 0 || !saveSchedule_) {
        messenger_(summary, false);
        return;
    }
    // Kept at once: a planned upgrade must survive the program's end or a crash. A save
    // that fails leaves the entries planned here; the next save keeps them.
    saveSchedule_(*this, [this, summary](const QString& failure) {
        messenger_(
            failure.isEmpty() ? summary : SaveFailedText(frame_.Texts(), failure) + "\n" + summary,
            false);
    });
}

QString CUpgradePage::IncompleteReason(const CScheduleInfo& entry) {
    if (entry.Version.empty()) {
        return Text("UI_PopupMessage", "NoVersionReason",
                    "its firmware version is unknown; check its password");
    }
    if (entry.Model.empty())
        return Text("UI_PopupMessage", "NoModelReason", "its model is unknown");
    if (entry.Device.empty())
        return Text("UI_PopupMessage", "NoNameReason", "it has no device name");
    return Text("UI_PopupMessage", "IncompleteReason", "its address or log-in is incomplete");
}

void CUpgradePage::AddByAddress() {
    if (!control_) return;
    CMessageDlg entry(frame_.Texts(), CMessageDlg::kAddDevice, 0, false, this);
    entry.SetMessenger(messenger_);
    entry.SetAddressScanner([control = control_](AddressScanRequest request) {
        return control->StartAddressScan(std::move(request));
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

void CUpgradePage::ExportList() {
    if (!table_ || !inventoryStore_) return;
    const QString path = inventoryChooser_(QString());
    if (path.isEmpty()) return;
    std::vector<CIPCamInfo> devices;
    for (const std::string& key : table_->Keys()) {
        if (std::optional<CIPCamInfo> record = table_->Find(key)) devices.push_back(*record);
    }
    const QString why = SaveInventory(path, devices, *inventoryStore_, historyPath_);
    const QString text =
        why.isEmpty() ? PageText("ExportListDoneMessage", "The list of %d devices was saved.")
                            .replace("%d", QString::number(static_cast<qsizetype>(devices.size())))
                      : PageText("ExportListFailedMessage", "The list could not be saved: %s")
                            .replace("%s", why);
    ShowOkBox(*this, frame_.Texts(),
              why.isEmpty() ? "ExportListDoneMessage" : "ExportListFailedMessage", text);
}

void CUpgradePage::OpenDevicePageOf(const std::string& deviceId) {
    if (!table_) return;
    if (const std::optional<CIPCamInfo> record = table_->Find(deviceId)) {
        OpenDevicePage(FamilyFor(record->Protocol).WebPage(*record));
    }
}

void CUpgradePage::DeviceDoubleClicked(const QModelIndex& index) {
    // The password cell takes a double-click for typing.
    if (deviceList_.Model().flags(index) & Qt::ItemIsEditable) return;
    OpenDevicePageOf(ToStd(deviceList_.GetField(index.row(), kKey)));
}

void CUpgradePage::StatusDoubleClicked(const QModelIndex& index) {
    if (statusList_.GetField(index.row(), kFinished) != "1") {
        Say("UI_PopupMessage", "Msg5", "Device is upgrading.");
        return;
    }
    OpenDevicePageOf(ToStd(statusList_.GetField(index.row(), kKey)));
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
        queuedKeys_.clear();
    }
    deviceList_.DeleteAllRows();
    ForgetTypedPasswords();
    firstSearch_.start();
}

void CUpgradePage::Reset() {
    OnGuiThread([this] {
        deviceList_.DeleteAllRows();
        statusList_.DeleteAllRows();
        ForgetTypedPasswords();
    });
}

void CUpgradePage::DeviceFound(const CIPCamInfo& record) {
    std::lock_guard lock(queueLock_);
    // A search asks more than once and every device answers each time: queue it once.
    if (queuedKeys_.insert(record.DeviceId).second) newDevices_.push_back(record.DeviceId);
}

void CUpgradePage::DeviceListFull() {
    OnGuiThread([this] {
        Say("UI_PopupMessage", "ListFull",
            "The list is full: 4096 devices are listed, and devices found after them are not.");
    });
}

void CUpgradePage::DeviceMerged(const std::string& goneKey, const CIPCamInfo& kept) {
    // One device, one row: the row of the record that joined another goes, and the kept
    // one is listed (again).
    OnGuiThread([this, goneKey] {
        const int row = deviceList_.FindRow(kKey, ToQ(goneKey));
        if (row >= 0) deviceList_.DeleteRow(row);
    });
    DeviceFound(kept);
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
    statusList_.SetField(row, kStatus, StatusTextOf(report));
    shownReports_[report.DeviceId] = report;
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
        if (!running_) frame_.LockTabs();
    });
}

void CUpgradePage::RunEnds() {
    OnGuiThread([this] {
        if (running_) frame_.UnlockTabs();
        frame_.EndBusySoon();
    });
}

void CUpgradePage::RefreshTexts() {
    OnGuiThread([this] { ReloadTexts(); });
}
