#include "history/upgrade_history.h"

#include <chrono>
#include <filesystem>

#include "base/result_codes.h"
#include "base/trace.h"
#include "device/upgrade_progress.h"
#include "firmware/file_md5.h"
#include "history/history_file.h"

namespace {

std::string AddressText(const CIPCamInfo& record) {
    return record.HostAddress + ":" + std::to_string(record.GetPort());
}

}  // namespace

int64_t WallClockNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

CUpgradeHistory::CUpgradeHistory(const IDeviceLookup& table, std::string historyPath, WallClock now)
    : table_(table), path_(std::move(historyPath)), now_(std::move(now)) {}

void CUpgradeHistory::DeviceDispatched(const CIPCamInfo& device) {
    Pending pending;
    UpgradeHistoryRecord& r = pending.Record;
    r.DeviceId = device.DeviceId;
    r.DeviceName = device.DeviceName;
    r.Model = device.ModelName;
    r.Mac = device.MacAddress;
    r.Address = AddressText(device);
    r.VersionBefore = device.FirmwareVersion;
    std::lock_guard lock(lock_);
    pending_[device.DeviceId] = std::move(pending);
}

std::string CUpgradeHistory::ChosenImage(const std::string& deviceId) const {
    // A camera took the cameras' image when there was one.
    const std::optional<CIPCamInfo> stored = table_.FindStored(deviceId);
    if (stored && FactsOf(stored->Protocol).CameraImage && images_) {
        if (std::optional<std::string> camera = images_->CameraImage()) return *camera;
    }
    if (std::optional<std::string> manual = images_ ? images_->ManualImage() : std::nullopt) {
        return *manual;
    }
    // The dispatch notes the newest stored image it chose before it hands the device
    // over; while the job runs the device stays listed.
    std::optional<CIPCamInfo> device = table_.Find(deviceId);
    return device ? device->LatestFirmwareFile : std::string();
}

void CUpgradeHistory::DeviceFinished(const UpgradeReport& report) { Record(report); }

void CUpgradeHistory::DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                                   int code) {
    Record({deviceId, stage, seconds, percent, code, {}});
}

void CUpgradeHistory::Record(const UpgradeReport& report) {
    const std::string& deviceId = report.DeviceId;
    const int code = report.Code;
    if (report.Stage != stage::kFinished) {
        // The first report of a job comes after the dispatch chose its images.
        std::lock_guard lock(lock_);
        auto found = pending_.find(deviceId);
        if (found != pending_.end() && found->second.ImagePath.empty()) {
            found->second.ImagePath = ChosenImage(deviceId);
        }
        return;
    }
    Pending pending;
    {
        std::lock_guard lock(lock_);
        auto found = pending_.find(deviceId);
        // A late return amends the device's failure: it is told as that device was.
        auto late = code == rc::kReturnedLate ? amendable_.find(deviceId) : amendable_.end();
        if (late != amendable_.end()) {
            pending = std::move(late->second);
            amendable_.erase(late);
        } else if (found != pending_.end()) {
            pending = std::move(found->second);
            pending_.erase(found);
        } else {
            pending.Record.DeviceId = deviceId;
        }
    }
    UpgradeHistoryRecord& r = pending.Record;
    r.Time = now_();
    r.Code = code;
    r.ResultText =
        StatusCellText({deviceId, report.Stage, 0, 100, code, {}, report.WindowEnd}, DefaultText);
    r.VersionAfter = VersionAfterReturn(r.VersionBefore, code, report.FirmwareVersion);
    // The device may have come back under another address.
    if (std::optional<CIPCamInfo> device = table_.Find(deviceId)) r.Address = AddressText(*device);
    // A device that got no image has none to name.
    if (OutcomeOf(code) != OutcomeKind::UpToDate && code != rc::kHttpUnauthorized &&
        code != rc::kNoCameraImage && !rc::IsNotStarted(code)) {
        if (pending.ImagePath.empty()) pending.ImagePath = ChosenImage(deviceId);
        r.ImageFile = std::filesystem::path(pending.ImagePath).filename().string();
        r.ImageMd5 = ImageMd5(pending.ImagePath);
    }
    if (code == rc::kNotSeenAgain) {
        std::lock_guard lock(lock_);
        amendable_[deviceId] = pending;
    }
    if (std::string reason; AppendHistory(path_, r, &reason) != rc::kOk) {
        Trace("upgrade of %s: cannot add it to the history %s: %s", deviceId.c_str(), path_.c_str(),
              reason.c_str());
        if (problem_) problem_(path_, reason);
    }
}

std::string CUpgradeHistory::ImageMd5(const std::string& path) {
    if (path.empty()) return std::string();
    std::error_code error;
    const auto changed = std::filesystem::last_write_time(path, error);
    const auto size = std::filesystem::file_size(path, error);
    if (error) return std::string();
    {
        std::lock_guard lock(lock_);
        auto known = md5s_.find(path);
        if (known != md5s_.end() && known->second.Changed == changed &&
            known->second.Size == size) {
            return known->second.Md5;
        }
    }
    // Computed outside the lock; two devices ending at once may both compute it.
    std::string md5;
    ComputeWholeFileMD5(path, md5);
    std::lock_guard lock(lock_);
    md5s_[path] = {changed, size, md5};
    return md5;
}

std::string VersionAfterReturn(const std::string& versionBefore, int code,
                               const std::string& versionRead) {
    if (!versionRead.empty()) return versionRead;
    return code == rc::kNoNewerImage ? versionBefore : std::string();
}

void SetHistoryImage(UpgradeHistoryRecord& record, const std::string& path) {
    if (path.empty()) return;
    record.ImageFile = std::filesystem::path(path).filename().string();
    ComputeWholeFileMD5(path, record.ImageMd5);
}
