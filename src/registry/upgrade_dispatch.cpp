// The Upgrade command of the camera control: one dispatch thread per checked device
// asks the device for its model, chooses the images to install and hands the device to
// the upgrade manager, or gives it its final status.
#include <iterator>
#include <vector>

#include "base/result_codes.h"
#include "device/firmware_version.h"
#include "device/upgrade_progress.h"
#include "families/families.h"
#include "registry/camera_control.h"
#include "web/device_queries.h"

namespace {

// The hardware version the store is asked for; devices do not report one.
constexpr const char* kHardwareVersion = "V1";
// A device reporting this version takes every stored image of its model.
constexpr const char* kTakesEveryImage = "100";

}  // namespace

void CCameraControl::SetManualImage(const std::string& path) {
    std::lock_guard lock(dispatchLock_);
    manualImage_ = path;
}

void CCameraControl::ClearManualImage() {
    std::lock_guard lock(dispatchLock_);
    manualImage_.reset();
}

std::optional<std::string> CCameraControl::ManualImage() const {
    std::lock_guard lock(dispatchLock_);
    return manualImage_;
}

void CCameraControl::SetCameraImage(const std::string& path) {
    std::lock_guard lock(dispatchLock_);
    cameraImage_ = path;
}

void CCameraControl::ClearCameraImage() {
    std::lock_guard lock(dispatchLock_);
    cameraImage_.reset();
}

std::optional<std::string> CCameraControl::CameraImage() const {
    std::lock_guard lock(dispatchLock_);
    return cameraImage_;
}

int CCameraControl::PendingDispatches() const {
    std::lock_guard lock(dispatchLock_);
    return pending_;
}

void CCameraControl::StartUpgrade(uint8_t runFlag, const BatchPolicy& policy) {
    NotifyObservers([](IRegistryObserver& o) { o.RunBegins(); });
    NotifyObservers([](IRegistryObserver& o) { o.Busy(true); });

    std::vector<CIPCamInfo> chosen;
    for (const std::string& key : table_.Keys()) {
        std::optional<CIPCamInfo> record = table_.Find(key);
        if (record && record->Checked != 0) chosen.push_back(std::move(*record));
    }
    if (chosen.empty()) {
        // Nothing to dispatch: the run ends as it began, or the pages would stay locked.
        NotifyObservers([](IRegistryObserver& o) { o.Busy(false); });
        NotifyObservers([](IRegistryObserver& o) { o.RunEnds(); });
        return;
    }
    if (upgradeManager_) upgradeManager_->SetBatchPolicy(policy);
    bool begins = false;
    {
        // Counted before any thread starts, so that the first to end cannot take itself
        // for the last.
        std::lock_guard lock(dispatchLock_);
        begins = pending_ == 0;
        if (begins) secondCounter_ = 0;
        pending_ += static_cast<int>(chosen.size());
    }
    if (begins && upgradeManager_) upgradeManager_->DispatchBegins();
    for (const CIPCamInfo& record : chosen) {
        NotifyObservers([&](IRegistryObserver& o) { o.DeviceDispatched(record); });
        // Without a thread the device is not dispatched, and the run must still end.
        if (!dispatches_.Start([this, key = record.DeviceId, runFlag](std::stop_token) {
                RunDispatch(key, runFlag);
            })) {
            DispatchEnded();
        }
    }
}

void CCameraControl::RunDispatch(const std::string& key, uint8_t runFlag) {
    std::optional<CIPCamInfo> record = table_.Find(key);
    if (!record) {
        // Gone from the table since the command (a new search): not dispatched.
        DispatchEnded();
        return;
    }
    if (record->CheckDone == 1 && record->LoginRefused == 1) {
        // Sent again, refused credentials may lock the account; and its model is only a
        // claim, which the batch guards must not count. Nothing goes to it.
        const UpgradeReport report{key, stage::kFinished, 0, 100, rc::kLoginRefused, std::string()};
        NotifyObservers([&](IRegistryObserver& o) { o.DeviceFinished(report); });
        DispatchEnded();
        return;
    }
    // Only a family that takes the firmware store's images is asked for its model.
    if (!FactsOf(record->Protocol).StoreImages) {
        Dispatch(key, kHardwareVersion, std::string(), rc::kOk, runFlag);
        return;
    }
    std::string apiVersion;
    std::string model;
    const int queryResult = QueryNvrModel(*record, apiVersion, model);
    if (queryResult == rc::kOk) {
        table_.Modify(key, [&](CIPCamInfo& r) { r.ProductModel = record->ProductModel; });
    }
    Dispatch(key, kHardwareVersion, model, queryResult, runFlag);
}

void CCameraControl::Dispatch(const std::string& key, const std::string& hardwareVersion,
                              const std::string& model, int queryResult, uint8_t runFlag) {
    std::optional<CIPCamInfo> record = table_.Find(key);
    if (record) {
        bool fromStore = false;
        std::deque<std::string> images = ChooseImages(*record, hardwareVersion, model, fromStore);
        const ImageChoice choice = FamilyFor(record->Protocol).Images(record->ModelName);
        if (!images.empty()) {
            HandOver(*record, std::move(images), fromStore, runFlag);
        } else if (!FactsOf(record->Protocol).StoreImages) {
            const UpgradeReport report{key, stage::kFinished,   0,
                                       100, choice.NoImageCode, record->FirmwareVersion};
            NotifyObservers([&](IRegistryObserver& o) { o.DeviceFinished(report); });
        } else {
            const bool refused = queryResult == rc::kHttpUnauthorized;
            // The device keeps the version it runs, which the final report names.
            const UpgradeReport report{key,
                                       stage::kFinished,
                                       0,
                                       100,
                                       refused ? rc::kHttpUnauthorized : choice.NoImageCode,
                                       refused ? std::string() : record->FirmwareVersion};
            NotifyObservers([&](IRegistryObserver& o) { o.DeviceFinished(report); });
        }
    }
    // Only now is the dispatch over: counted down at its start, a device still to be
    // handed over could see the run end before it.
    DispatchEnded();
}

std::deque<std::string> CCameraControl::ChooseImages(const CIPCamInfo& record,
                                                     const std::string& hardwareVersion,
                                                     const std::string& model, bool& fromStore) {
    fromStore = false;
    const ProtocolFacts& facts = FactsOf(record.Protocol);
    {
        // The image the technician chose for the cameras, else the one chosen for all.
        std::lock_guard lock(dispatchLock_);
        if (facts.CameraImage && cameraImage_) return {*cameraImage_};
        if (manualImage_) return {*manualImage_};
    }
    if (!facts.StoreImages) return {};
    std::vector<std::string> versions;
    std::vector<std::string> paths;
    if (!store_ ||
        !store_->FindLatestFirmware(record.ModelName, hardwareVersion, model, versions, paths) ||
        paths.empty() || versions.size() != paths.size()) {
        return {};
    }
    table_.Modify(record.DeviceId,
                  [&](CIPCamInfo& r) { r.SetLatestFirmware(paths.back(), versions.back()); });
    std::deque<std::string> images;
    for (size_t i = 0; i < versions.size(); ++i) {
        if (record.FirmwareVersion == kTakesEveryImage ||
            IsNewerFirmware(record.FirmwareVersion, versions[i])) {
            images.push_back(paths[i]);
        }
    }
    fromStore = true;
    return images;
}

void CCameraControl::HandOver(const CIPCamInfo& record, std::deque<std::string> images,
                              bool fromStore, uint8_t runFlag) {
    if (!upgradeManager_) return;
    JobRequest request;
    request.Scheme = record.GetScheme();
    request.DeviceId = record.DeviceId;
    request.Host = record.HostAddress;
    request.Port = record.GetPort();
    request.UserName = record.UserName;
    request.Password = record.Password;
    request.ImageQueue = std::move(images);
    request.RunFlag = runFlag;
    request.SingleModel = FamilyFor(record.Protocol).Images(record.ModelName).SingleModel;
    request.Protocol = record.Protocol;
    request.ServiceAddresses = record.ServiceAddresses;
    request.FirmwareVersion = record.FirmwareVersion;
    request.ImagesFromStore = fromStore ? 1 : 0;
    request.Model = record.ModelName;
    request.Mac = RecordMac(record);
    // A device that already has a job keeps it; its reports stand for this one.
    if (upgradeManager_->StartJob(request).empty()) return;
    std::lock_guard lock(dispatchLock_);
    ++secondCounter_;
}

void CCameraControl::DispatchEnded() {
    bool last = false;
    bool handedOver = false;
    {
        std::lock_guard lock(dispatchLock_);
        last = --pending_ == 0;
        handedOver = secondCounter_ > 0;
    }
    if (!last) return;
    NotifyObservers([](IRegistryObserver& o) { o.Busy(false); });
    if (!handedOver) NotifyObservers([](IRegistryObserver& o) { o.RunEnds(); });
    if (upgradeManager_) upgradeManager_->DispatchEnds();
}
