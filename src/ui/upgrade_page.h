#pragma once

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_set>

#include "device/registry_observer.h"
#include "firmware/firmware_match.h"
#include "ui/list_ctrl.h"
#include "ui/page.h"
#include "ui/skin_button.h"
#include "ui/skin_group_box.h"
#include "upgrade/batch_guard.h"

class CCameraControl;
class CCameraTable;
class CCredentialChecks;
class CMessageDlg;
class CScheduleList;
struct CScheduleInfo;

// The Upgrade page: the firmware file, the device list (or, during a run, the status
// list) and the command buttons. It observes the camera control and the upgrade
// manager, whose calls arrive on worker threads and are handed to the user-interface
// thread as queued calls carrying copies; the credential checks reach it as the main
// window's device commands.
class CUpgradePage final : public CPage, public IRegistryObserver {
    Q_OBJECT
public:
    CUpgradePage(IMainFrame& frame, QWidget* parent);

    // The services the page works with; they outlive the page's use of them (the main
    // window detaches the page before it deletes them). `searchSoon`: the first search
    // starts a second later.
    void SetServices(CCameraControl& control, CCameraTable& table, CCredentialChecks& checks,
                     bool searchSoon);
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    // Export list: the store the list compares with, the history it reads, and where the
    // user chooses the file.
    void SetInventorySource(const IFirmwareMatch* store, std::string historyPath) {
        inventoryStore_ = store;
        historyPath_ = std::move(historyPath);
    }
    void SetInventoryChooser(FileChooser chooser) { inventoryChooser_ = std::move(chooser); }
    // Runs a popup to its end and gives its result (by default modally).
    void SetPopupRunner(PopupRunner runner) { popupRunner_ = std::move(runner); }
    // Where upgrades planned for later go, and how the schedule is saved.
    void SetSchedule(CScheduleList& schedule, ScheduleSaver save) {
        schedule_ = &schedule;
        saveSchedule_ = std::move(save);
    }

    // The guards for the next upgrade (the Setting page's), read when it starts.
    using BatchPolicySource = std::function<BatchPolicy()>;
    void SetBatchPolicySource(BatchPolicySource source) { batchPolicy_ = std::move(source); }

    void ReloadTexts() override;

    // True from the confirmation of an upgrade run until its last report.
    bool IsRunInProgress() const { return running_; }
    // The end of a busy state gives back the command that started it (Search).
    void RestoreAfterBusy();
    // The main window holds the page during a run (LockTabs) and lets it go (UnlockTabs).
    void PrepareRun();
    void ResetRun();
    // The page stops reporting to the main window (shut-down).
    void Detach();

    // The commands, as the buttons run them.
    void Search();
    void Browse();
    // Takes the file as the image to install when it carries an image mark; otherwise
    // says so ([ErrorCode] Code_406). While ONVIF cameras are listed, a file without a
    // mark is taken as their maker's image, for them alone: an Upgrade with the maker's
    // devices ticked then says Code_406. True when taken.
    bool ChooseImage(const QString& path);
    void Upgrade();
    void Back();
    void SelectAll();
    void CancelAll();
    // Saves the listed devices as the site inventory (CSV, or HTML by the file's name)
    // and says so.
    void ExportList();
    // Add: the popup that adds a device by its address.
    void AddByAddress();
    // A device command from the main window (32786, 32787, 32789, 32791, 32792), with the
    // device's record: a credential check's outcome, or a device entered by hand.
    void DeviceCommand(int command, const CIPCamInfo& record);
    // Something changed the devices while the page was away (a scheduled upgrade ran):
    // the next time it is shown with its device list, the list is emptied and a search
    // starts a second later.
    void RequestRefresh() { refreshWanted_ = true; }

    CCameraListCtrl& DeviceList() { return deviceList_; }
    CCameraListCtrl& StatusList() { return statusList_; }

    // IRegistryObserver, on any thread.
    void Reset() override;
    void DeviceFound(const CIPCamInfo& record) override;
    void DeviceMerged(const std::string& goneKey, const CIPCamInfo& kept) override;
    void DeviceListFull() override;
    void DeviceDispatched(const CIPCamInfo& record) override;
    void DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                      int code) override;
    // The final report, with the version the device named after its return.
    void DeviceFinished(const UpgradeReport& report) override;
    void Busy(bool busy) override;
    void RunBegins() override;
    void RunEnds() override;
    void RefreshTexts() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The device list's commands, hidden while the status list is shown.
    void SetCommandsVisible(bool visible);
    void ShowDeviceView();
    void ShowStatusView();
    // The description shows the device list's text or, with the status list, the warning.
    void PlaceDescription();
    void SetListHeadings();
    void RenameStateTexts();
    QString StatusTextOf(const UpgradeReport& report);
    void RefreshDeviceList();  // timer 3
    void WatchSearch();        // timer 1
    void AddDeviceRow(const CIPCamInfo& record);
    // The device list's row for a device, numbered `number`.
    CListRow DeviceRow(const CIPCamInfo& record, size_t number) const;
    void ShowReport(const UpgradeReport& report);
    void PasswordTyped(int row);
    // A check outcome that speaks of a password replaced while it ran: not shown; the
    // typed one is checked instead.
    bool Superseded(const CIPCamInfo& record);
    void CheckTypedPassword(const std::string& key, const std::string& password);
    void ForgetTypedPasswords();
    void OpenDevicePageOf(const std::string& deviceId);
    void DeviceDoubleClicked(const QModelIndex& index);
    void StatusDoubleClicked(const QModelIndex& index);
    bool ChecksRunning() const;

    // The Upgrade command's steps.
    struct Selection {
        int Ticked = 0;
        int Unusable = 0;    // ticked rows without a usable password or check result
        int WrongImage = 0;  // the maker's devices ticked with a camera maker's image
    };
    Selection StoreCredentials();
    bool SelectionUsable(const Selection& selection);
    // The when-to-upgrade popup: now (0), a time and the end of its window ("HH:MM",
    // empty: none), or -1 (cancelled, or its image refused).
    struct WhenChoice {
        int64_t Time = -1;
        QString Until;
    };
    WhenChoice AskWhen();
    // Msg3 with the plan of the run under `policy`, as a question.
    bool ConfirmUpgradeNow(const BatchPolicy& policy);
    void StartRun(const BatchPolicy& policy);
    // The chosen image goes to the camera control: for every device, or for the
    // cameras alone.
    void ApplyImage();
    bool IsCamera(const std::string& key) const;
    bool ListsCameras() const;
    // What the confirmation adds: how many of the ticked devices start at once under
    // `policy` and how many wait for the first device of their model.
    QString PlanText(const BatchPolicy& policy);
    // Appends a schedule entry at `time` (with `until`, the end of its window) for every
    // ticked row whose entry would be complete, saves, and says what was planned and
    // what was left out.
    void ScheduleChecked(int64_t time, const QString& until);
    QString IncompleteReason(const CScheduleInfo& entry);

    CSkinGroupBox fileGroup_;
    QLineEdit firmwarePath_;
    CSkinButton browse_;
    QLabel description_;
    QLabel prompt_;
    QFrame listArea_;  // where the device list and the status list are shown
    CCameraListCtrl deviceList_;
    CCameraListCtrl statusList_;
    CSkinButton selectAll_;
    CSkinButton deselectAll_;
    CSkinButton add_;
    CSkinButton search_;
    CSkinButton upgrade_;
    CSkinButton back_;
    CSkinButton exportList_;
    QTimer refresh_;      // 3
    QTimer searchWatch_;  // 1
    QTimer firstSearch_;  // 0

    CCameraControl* control_ = nullptr;
    CCameraTable* table_ = nullptr;
    CCredentialChecks* checks_ = nullptr;
    FileChooser fileChooser_;
    FileChooser inventoryChooser_;
    const IFirmwareMatch* inventoryStore_ = nullptr;
    std::string historyPath_;
    PopupRunner popupRunner_;
    BatchPolicySource batchPolicy_;
    CScheduleList* schedule_ = nullptr;
    ScheduleSaver saveSchedule_;
    int64_t lastChosenTime_ = 0;
    QString imagePath_;
    QHash<QString, QString> stateTexts_;                 // key -> text, as last read
    std::map<std::string, UpgradeReport> shownReports_;  // of the status list's rows
    bool camerasOnly_ = false;  // imagePath_ is an ONVIF camera maker's image

    std::mutex queueLock_;  // guards newDevices_ and queuedKeys_
    std::deque<std::string> newDevices_;
    std::unordered_set<std::string> queuedKeys_;  // queued since the list was emptied

    // A password typed while its row's check ran, by device: checked once that check
    // has ended.
    struct TypedPassword {
        std::string Password;  // as the check uses it
        bool CheckStarted = false;
    };
    std::map<std::string, TypedPassword> typedDuringCheck_;

    bool running_ = false;
    bool refreshWanted_ = false;
    bool statusShown_ = false;
};
