#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include "registry/registry_observer.h"
#include "ui/page.h"
#include "ui/skin_button.h"
#include "ui/skin_group_box.h"

// The Upgrade page: the firmware file, the device list (or, during a run, the status
// list) and the command buttons. It observes the camera control and the upgrade
// manager; their calls arrive on worker threads and are handed to the user-interface
// thread as queued calls carrying copies.
class CUpgradePage final : public CPage, public IRegistryObserver {
    Q_OBJECT
public:
    CUpgradePage(IMainFrame& frame, QWidget* parent);

    void ReloadTexts() override;

    // True from the start of an upgrade run until it has ended.
    bool IsRunInProgress() const { return running_; }
    // The end of a busy state gives back the command that started it (Search).
    void RestoreAfterBusy();
    // The main window holds the page during a run (LockTabs) and lets it go (UnlockTabs).
    void PrepareRun();
    void ResetRun();
    // The page stops reporting to the main window (shut-down).
    void Detach() { detached_ = true; }

    // IRegistryObserver, on any thread. The device and status rows belong to the lists;
    // this page follows the run state: busy, run begins, run ends, texts.
    void Reset() override;
    void DeviceFound(const CIPCamInfo& record) override;
    void DeviceDispatched(const CIPCamInfo& record) override;
    void DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                      int code) override;
    void Busy(bool busy) override;
    void RunBegins() override;
    void RunEnds() override;
    void RefreshTexts() override;

private:
    // The device list's commands, hidden while the status list is shown.
    void SetCommandsVisible(bool visible);
    void ShowDeviceView();
    void ShowStatusView();
    // The description shows the device list's text or, with the status list, the warning.
    void PlaceDescription();
    template <typename F>
    void OnGuiThread(F&& call);

    CSkinGroupBox fileGroup_;
    QLineEdit firmwarePath_;
    CSkinButton browse_;
    QLabel description_;
    QLabel prompt_;
    QFrame listArea_;  // where the device list and the status list are shown
    CSkinButton selectAll_;
    CSkinButton deselectAll_;
    CSkinButton add_;
    CSkinButton search_;
    CSkinButton upgrade_;
    CSkinButton back_;
    bool running_ = false;
    bool statusShown_ = false;
    bool detached_ = false;
};
