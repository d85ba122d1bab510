#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "device/device_lookup.h"
#include "device/dispatch_images.h"
#include "device/registry_observer.h"
#include "history/history_file.h"
#include "history/history_record.h"

// Seconds since 1970-01-01 00:00 UTC; the wall clock unless a test gives its own.
using WallClock = std::function<int64_t()>;
int64_t WallClockNow();

// Keeps the final outcome of every device an Upgrade command dispatches in the upgrade
// history file. It learns the device as it was before the upgrade from the dispatch
// notification and appends one record at the device's final report, whichever side
// sends it: the camera control (no newer image, log-in refused) or the upgrade manager
// (the job's end). A device that ended as not seen again and came back later
// (rc::kReturnedLate) gets a second record, which readers show in place of the failure
// (AmendLateReturns). Every program that upgrades attaches one to the camera control and
// the upgrade manager as their observer, before any search or upgrade starts; it must
// outlive both.
class CUpgradeHistory final : public IRegistryObserver {
public:
    // The table must outlive this object.
    CUpgradeHistory(const IDeviceLookup& table, std::string historyPath,
                    WallClock now = WallClockNow);

    // Where the images the dispatch hands out instead of the store's are asked (the
    // camera control). Set before this object is attached.
    void SetDispatchImages(const IDispatchImages& images) { images_ = &images; }

    // Where it is told that an outcome could not be appended (a full disk); the outcome
    // itself stands. Set before this object is attached.
    void SetProblemHandler(HistoryProblem problem) { problem_ = std::move(problem); }

    void DeviceDispatched(const CIPCamInfo& record) override;
    void DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                      int code) override;
    // The final report, with the version the device named after its return.
    void DeviceFinished(const UpgradeReport& report) override;
    void Reset() override {}
    void DeviceFound(const CIPCamInfo&) override {}
    void Busy(bool) override {}
    void RunBegins() override {}
    void RunEnds() override {}
    void RefreshTexts() override {}

private:
    // The device as dispatched, completed with the image once the dispatch chose it.
    struct Pending {
        UpgradeHistoryRecord Record;
        std::string ImagePath;
    };

    void Record(const UpgradeReport& report);
    // The image path the dispatch gave the device, if it can be known yet.
    std::string ChosenImage(const std::string& deviceId) const;
    // The MD5 of the image, computed once per run however many devices take it.
    std::string ImageMd5(const std::string& path);

    struct KnownMd5 {
        std::filesystem::file_time_type Changed;
        uintmax_t Size = 0;
        std::string Md5;
    };

    const IDeviceLookup& table_;
    const IDispatchImages* images_ = nullptr;
    const std::string path_;
    const WallClock now_;
    HistoryProblem problem_;
    std::mutex lock_;
    std::map<std::string, Pending> pending_;
    // Devices whose last outcome was -10, as recorded: a late return amends it.
    std::map<std::string, Pending> amendable_;
    std::map<std::string, KnownMd5> md5s_;
};

// The version the device runs after its final report: the one it named after its
// return, else the one it had where it was left untouched (no newer image); otherwise
// empty rather than a guess.
std::string VersionAfterReturn(const std::string& versionBefore, int code,
                               const std::string& versionRead);

// The file name of `path` and the MD5 of the file's whole content, into `record`.
void SetHistoryImage(UpgradeHistoryRecord& record, const std::string& path);
