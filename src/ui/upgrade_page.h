#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "registry/registry_observer.h"
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

// The Upgrade page: the firmware file, the device list (or, during a run, the status
// list) and the command buttons. It observes the camera control and the upgrade
// manager, whose calls arrive on worker threads and are handed to the user-interface
// thread as queued calls carrying copies; the credential checks reach it as the main
// window's device commands.
class CUpgradePage final : public CPage, public IRegistryObserver {
    Q_OBJECT
public:
    // Shows a message with the program's caption; a question answers Yes (true) or No.
    using Messenger = std::function<bool(const QString& text, bool question)>;
    // Asks where the firmware image is; empty when the user cancelled.
    using FileChooser = std::function<QString()>;

    CUpgradePage(IMainFrame& frame, QWidget* parent);

    // The services the page works with; they outlive the page's use of them (the main
    // window detaches the page before it deletes them). `searchSoon`: the first search
    // starts a second later.
    void SetServices(CCameraControl& control, CCameraTable& table, CCredentialChecks& checks,
                     bool searchSoon);
    void SetMessenger(Messenger messenger) { messenger_ = std::move(messenger); }
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    // Runs a popup to its end and gives its result (by default modally).
    using PopupRunner = std::function<int64_t(CMessageDlg& popup)>;
    void SetPopupRunner(PopupRunner runner) { popupRunner_ = std::move(runner); }
    // Where upgrades planned for later go, and how the schedule is saved.
    void SetSchedule(CScheduleList& schedule, std::function<bool()> save) {
        schedule_ = &schedule;
        saveSchedule_ = std::move(save);
    }

    // The guards for the next upgrade (the Setting page's), read when it starts.
    using BatchPolicySource = std::function<BatchPolicy()>;
    void SetBatchPolicySource(BatchPolicySource source) { batchPolicy_ = std::move(source); }

    void ReloadTexts() override;

    // True from the start of an upgrade run until it has ended.
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
    void RefreshDeviceList();  // timer 3
    void WatchSearch();        // timer 1
    void AddDeviceRow(const CIPCamInfo& record);
    void ShowReport(const UpgradeReport& report);
    void PasswordTyped(int row);
    void OpenDevicePage(const std::string& deviceId);
    void DeviceDoubleClicked(const QModelIndex& index);
    void StatusDoubleClicked(const QModelIndex& index);
    bool ChecksRunning() const;
    // The chosen image goes to the camera control: for every device, or for the
    // cameras alone.
    void ApplyImage();
    bool IsCamera(const std::string& key) const;
    bool ListsCameras() const;
    // Appends a schedule entry at `time` for every ticked row whose device is listed;
    // `until`: the end of their window ("HH:MM", empty: none).
    void ScheduleChecked(int64_t time, const QString& until);
    // What the confirmation adds: how many of the ticked devices start at once under
    // `policy` and how many wait for the first device of their model.
    QString PlanText(const BatchPolicy& policy);
    bool Say(std::string_view section, std::string_view key, std::string_view def,
             bool question = false);
    template <typename F>
    void OnGuiThread(F&& call);

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
    QTimer refresh_;      // 3
    QTimer searchWatch_;  // 1
    QTimer firstSearch_;  // 0

    CCameraControl* control_ = nullptr;
    CCameraTable* table_ = nullptr;
    CCredentialChecks* checks_ = nullptr;
    Messenger messenger_;
    FileChooser fileChooser_;
    PopupRunner popupRunner_;
    BatchPolicySource batchPolicy_;
    CScheduleList* schedule_ = nullptr;
    std::function<bool()> saveSchedule_;
    int64_t lastChosenTime_ = 0;
    QString imagePath_;
    bool camerasOnly_ = false;  // imagePath_ is an ONVIF camera maker's image

    std::mutex queueLock_;  // guards newDevices_
    std::deque<std::string> newDevices_;

    bool running_ = false;
    bool refreshWanted_ = false;
    bool statusShown_ = false;
    bool detached_ = false;
};
