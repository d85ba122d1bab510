#include "schedule/scheduled_run_record.h"

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "history/upgrade_history.h"
#include "schedule/scheduler.h"

std::optional<UpgradeHistoryRecord> ScheduledRunRecord(const CScheduleInfo& entry, int64_t time) {
    namespace st = schedule_status;
    int code = rc::kOk;
    switch (entry.Status) {
        case st::kSuccessful:
            code = rc::kOk;
            break;
        case st::kLoginFailed:
            code = rc::kLoginRefused;
            break;
        case st::kImageFailed:
            code = rc::kImageRejected;
            break;
        case st::kOtherFailed:
            code = entry.UploadResult < 0 ? entry.UploadResult : rc::kFailed;
            break;
        case st::kPastWindow:
            code = rc::kPastWindow;
            break;
        default:
            return std::nullopt;
    }
    UpgradeHistoryRecord r;
    r.Time = time;
    r.DeviceName = entry.Device;
    r.Model = entry.Model;
    r.Mac = entry.MAC;
    r.Address = entry.IP + ":" + entry.Port;
    // A run this process did not start (ended as interrupted) noted no version before.
    r.VersionBefore = entry.VersionBefore.empty() ? entry.Version : entry.VersionBefore;
    r.VersionAfter = VersionAfterReturn(r.VersionBefore, code, entry.VersionAfter);
    r.Code = code;
    r.ResultText = StatusText(entry, DefaultText);
    // A device not started got no image.
    if (!rc::IsNotStarted(code)) SetHistoryImage(r, entry.FWPath);
    return r;
}
