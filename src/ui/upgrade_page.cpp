#include "ui/upgrade_page.h"

#include <QMetaObject>

#include "ui/skin.h"

namespace {
constexpr const char* kSection = "Upgrade1Page";
}

CUpgradePage::CUpgradePage(IMainFrame& frame, QWidget* parent)
    : CPage(frame, kSection, parent),
      fileGroup_(this),
      firmwarePath_(this),
      browse_(CSkinButton::Kind::Push, this),
      description_(this),
      prompt_(this),
      listArea_(this),
      selectAll_(CSkinButton::Kind::Push, this),
      deselectAll_(CSkinButton::Kind::Push, this),
      add_(CSkinButton::Kind::Push, this),
      search_(CSkinButton::Kind::Push, this),
      upgrade_(CSkinButton::Kind::Push, this),
      back_(CSkinButton::Kind::Push, this) {
    firmwarePath_.setReadOnly(true);
    skin::MakeListPlace(listArea_);
    skin::SetTextColour(prompt_, skin::kCaption);
    skin::SetTextColour(description_, skin::kCaption);
    prompt_.setWordWrap(true);
    description_.setWordWrap(true);
    connect(&back_, &QAbstractButton::clicked, this, [this] { ShowDeviceView(); });
    ReloadTexts();
    ShowDeviceView();
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
    selectAll_.setText(ToQString(Place(selectAll_, "SelectAllButton", "Select All")));
    deselectAll_.setText(ToQString(Place(deselectAll_, "DeselectAllButton", "Cancel All")));
    add_.setText(ToQString(Place(add_, "ManualAddNVRButton", "Add")));
    search_.setText(ToQString(Place(search_, "SearchButton", "Search")));
    upgrade_.setText(ToQString(Place(upgrade_, "UpgradeButton", "Upgrade")));
    back_.setText(ToQString(Place(back_, "BackButton", "Back")));
    update();
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
    statusShown_ = false;
    PlaceDescription();
}

void CUpgradePage::ShowStatusView() {
    SetCommandsVisible(false);
    back_.hide();
    prompt_.show();
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

void CUpgradePage::PrepareRun() {
    running_ = true;
    ShowStatusView();
}

void CUpgradePage::ResetRun() {
    running_ = false;
    // The results stay on screen until the user goes back to the device list.
    back_.show();
}

template <typename F>
void CUpgradePage::OnGuiThread(F&& call) {
    QMetaObject::invokeMethod(this, std::forward<F>(call), Qt::QueuedConnection);
}

void CUpgradePage::Reset() {}

void CUpgradePage::DeviceFound(const CIPCamInfo&) {}

void CUpgradePage::DeviceDispatched(const CIPCamInfo&) {}

void CUpgradePage::DeviceStatus(const std::string&, int, int, int, int) {}

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
