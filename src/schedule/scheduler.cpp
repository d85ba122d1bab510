#include "schedule/scheduler.h"

#include "base/text.h"
#include "schedule/schedule_file.h"

namespace st = schedule_status;

bool SchedulerStep(CScheduleInfo& entry, int64_t now, const FileExists& fileExists,
                   int64_t windowSeconds) {
    // An address a hand-edited file spoiled is never used; the entry waits as it is.
    if (!HasUsableAddress(entry)) return false;
    const int before = entry.Status;
    if (entry.Status == st::kFirmwareLost && fileExists(entry.FWPath)) entry.Status = st::kWaiting;
    if (entry.Status == st::kWaiting) {
        if (!fileExists(entry.FWPath)) {
            entry.Status = st::kFirmwareLost;
        } else if (entry.UpgradeTime <= now && now - windowSeconds <= entry.UpgradeTime) {
            entry.Status = st::kQueued;
        } else if (entry.UpgradeTime < now) {
            entry.Status = st::kNone;
        }
    }
    return entry.Status != before;
}

std::vector<uint64_t> SchedulerTick(CScheduleList& list, int64_t now, const FileExists& fileExists,
                                    int64_t windowSeconds) {
    return list.UpdateEach(
        [&](CScheduleInfo& entry) { return SchedulerStep(entry, now, fileExists, windowSeconds); });
}

std::vector<CScheduledRun> StarterTick(CScheduleList& list) {
    if (list.RunningCount() > kStartWhileRunningAtMost) return {};
    return list.StartQueued();
}

int UploadPercent(int64_t totalBytes, int64_t sentBytes) {
    if (totalBytes <= 0) return 0;
    float left = static_cast<float>(totalBytes - sentBytes) / static_cast<float>(totalBytes);
    return static_cast<int>(100.0f - left * 100.0f);
}

std::string StatusText(const CScheduleInfo& entry, const TextLookup& lookup) {
    if (!HasUsableAddress(entry)) {
        return lookup("SchedulePage", "InvalidAddressStatus", "Invalid address");
    }
    switch (entry.Status) {
        case st::kWaiting:
            return lookup("SchedulePage", "WaitingStatus", "Waiting");
        case st::kQueued:
            return lookup("SchedulePage", "QueueStatus", "Queue");
        case st::kUploading: {
            std::string uploading = lookup("ErrorCode", "Code_Uploading",
                                           "Uploading file... Please wait a few minutes.");
            return StrFormat("%s (%d%%)", uploading.c_str(),
                             UploadPercent(entry.TotalBytes, entry.SentBytes));
        }
        case st::kUpgrading:
            return lookup("SchedulePage", "UpgradeNow", "Upgrading");
        case st::kSuccessful:
            return lookup("SchedulePage", "SuccessStatus", "Successful");
        case st::kLoginFailed:
            return lookup("ErrorCode", "Code_304",
                          "Failed! Please check the username and password.");
        case st::kImageFailed:
            return lookup("ErrorCode", "Code_406", "Failed! Please check the firmware file.");
        case st::kOtherFailed:
            // The run's own code says more where it knows one (-701, -408, -601...).
            if (entry.Result < 0) {
                return StatusCellText(stage::kFinished, 0, 100, entry.Result, lookup);
            }
            return lookup("ErrorCode", "Code_Other",
                          "Failed! Please check the network connection.");
        case st::kFirmwareLost:
            return lookup("SchedulePage", "FWLostStatus", "FW File lost");
        case st::kPastWindow:
            return PastWindowText(entry.Until, lookup);
        default:
            return lookup("SchedulePage", "NoneStatus", "NONE");
    }
}
