#include "upgrade/in_flight_review.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "base/result_codes.h"
#include "base/trace.h"
#include "device/mac_key.h"
#include "device/upgrade_progress.h"
#include "families/families.h"
#include "firmware/file_md5.h"
#include "history/history_file.h"

namespace {

constexpr int kLookTimeoutMs = 2000;
constexpr size_t kLooksAtOnce = 16;
// The run's outcome is written a moment after its upload began, on the same wall clock;
// the slack covers a clock set back a little meanwhile.
constexpr int64_t kClockSlackSeconds = 300;

int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// `sameVersionFails`: the device's family fails a device back with the version it ran.
InFlightFinding Judge(const InFlightDevice& device, const std::string& version,
                      bool sameVersionFails) {
    if (version.empty() || device.VersionBefore.empty()) return InFlightFinding::NotConfirmed;
    if (version != device.VersionBefore) return InFlightFinding::Upgraded;
    // A hand-picked image may be the version the device ran: that proves nothing, unless
    // the family's devices name their own versions (the old one: the image not taken).
    const bool proves = device.ImagesFromStore || sameVersionFails;
    return proves ? InFlightFinding::OldFirmware : InFlightFinding::NotConfirmed;
}

bool SameDevice(const UpgradeHistoryRecord& r, const InFlightDevice& d) {
    if (!d.DeviceId.empty()) return r.DeviceId == d.DeviceId;
    return r.DeviceId.empty() && SameMac(r.Mac, d.Mac);
}

// The record the run left for the device; what a crash left unwritten is made up from
// the journal.
std::optional<UpgradeHistoryRecord> LeftRecord(const std::vector<UpgradeHistoryRecord>& history,
                                               const InFlightDevice& d, bool& written) {
    written = true;
    for (auto r = history.rbegin(); r != history.rend(); ++r) {
        if (r->Time < d.Began - kClockSlackSeconds) break;
        if (!SameDevice(*r, d)) continue;
        if (r->Code == rc::kNotConfirmed || r->Code == rc::kNotSeenAgain) return *r;
        // Its outcome was recorded; only the journal's entry was left.
        return std::nullopt;
    }
    written = false;
    UpgradeHistoryRecord r;
    r.Time = NowSeconds();
    r.DeviceId = d.DeviceId;
    r.DeviceName = d.DeviceName;
    r.Model = d.Model;
    r.Mac = d.Mac;
    r.Address = d.Host + ":" + std::to_string(d.Port);
    r.VersionBefore = d.VersionBefore;
    r.Code = rc::kNotConfirmed;
    r.ResultText = StatusCellText(stage::kFinished, 0, 100, r.Code, DefaultText);
    if (!d.ImagePath.empty()) {
        r.ImageFile = std::filesystem::path(d.ImagePath).filename().string();
        ComputeWholeFileMD5(d.ImagePath, r.ImageMd5);
    }
    return r;
}

void Append(const std::string& historyPath, const UpgradeHistoryRecord& record) {
    if (std::string reason; AppendHistory(historyPath, record, &reason) != rc::kOk) {
        Trace("in-flight %s: cannot add to the history %s: %s", record.DeviceId.c_str(),
              historyPath.c_str(), reason.c_str());
    }
}

}  // namespace

InFlightLook LookAtInFlight(const InFlightDevice& device, const std::string& password,
                            int timeoutMs) {
    // Without its MAC nothing proves that whoever answers is the device.
    if (MacKey(device.Mac).empty()) return {};
    UpgradeJob job;
    job.SetAddress({device.Scheme, device.Host, device.Port});
    if (!device.ServiceAddress.empty()) job.ServiceAddresses = {device.ServiceAddress};
    job.UserName = device.User;
    job.Password = password;
    job.Mac = device.Mac;
    job.Model = device.Model;
    const IDeviceFamily& family = FamilyFor(device.Protocol);
    const std::string version = family.VersionNamedBy(job, timeoutMs);
    return {Judge(device, version, family.Traits(job).SameVersionFails), version};
}

std::optional<UpgradeHistoryRecord> AmendedRecord(const UpgradeHistoryRecord& left,
                                                  const InFlightLook& look, int64_t now) {
    int code = 0;
    if (look.Finding == InFlightFinding::Upgraded) {
        // Shown in place of the record it amends, as a late return is.
        code = rc::kReturnedLate;
    } else if (look.Finding == InFlightFinding::OldFirmware && left.Code == rc::kNotConfirmed) {
        code = rc::kOldFirmwareStill;
    } else {
        return std::nullopt;
    }
    UpgradeHistoryRecord r = left;
    r.Time = now;
    r.Code = code;
    r.ResultText = StatusCellText(stage::kFinished, 0, 100, code, DefaultText);
    r.VersionAfter = look.Version;
    return r;
}

InFlightReview ReviewInFlight(const CInFlightJournal& journal, InFlightOrigin origin,
                              const std::string& historyPath, const InFlightPassword& password) {
    InFlightReview review;
    const std::vector<InFlightDevice> devices = journal.TakeOrphans(origin);
    if (devices.empty()) return review;
    const std::vector<UpgradeHistoryRecord> history = ReadHistory(historyPath);
    struct Pending {
        InFlightDevice Device;
        UpgradeHistoryRecord Left;
        std::string Password;
        InFlightLook Look;
    };
    std::vector<Pending> pending;
    for (const InFlightDevice& d : devices) {
        bool written = true;
        std::optional<UpgradeHistoryRecord> left = LeftRecord(history, d, written);
        if (!left) continue;
        // A run that crashed wrote nothing: the history says at least this.
        if (!written) Append(historyPath, *left);
        pending.push_back({d, *left, password ? password(d) : std::string(), {}});
    }
    // A few devices at a time, each look bounded by its requests' time-outs.
    std::atomic<size_t> next{0};
    {
        std::vector<std::jthread> lookers;
        for (size_t i = 0; i < std::min(kLooksAtOnce, pending.size()); ++i) {
            lookers.emplace_back([&] {
                for (size_t k; (k = next++) < pending.size();) {
                    pending[k].Look =
                        LookAtInFlight(pending[k].Device, pending[k].Password, kLookTimeoutMs);
                }
            });
        }
    }
    const int64_t now = NowSeconds();
    for (const Pending& p : pending) {
        Trace("in-flight %s at %s: looked at after its run ended (%d, version '%s')",
              p.Device.Key.c_str(), p.Device.Host.c_str(), static_cast<int>(p.Look.Finding),
              p.Look.Version.c_str());
        std::optional<UpgradeHistoryRecord> amended = AmendedRecord(p.Left, p.Look, now);
        if (amended) Append(historyPath, *amended);
        const int code = amended ? amended->Code : p.Left.Code;
        if (code >= 0) {
            ++review.Upgraded;
        } else if (code == rc::kNotConfirmed) {
            ++review.NotConfirmed;
        } else {
            ++review.Failed;
        }
    }
    return review;
}
