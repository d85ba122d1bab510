#include "schedule/scheduled_run_record.h"

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "history/upgrade_history.h"
#include "schedule/scheduled_run_steps.h"
#include "schedule/scheduler.h"

std::optional<UpgradeHistoryRecord> ScheduledRunRecord(const CScheduleInfo& entry, int64_t time) {
    namespace st = schedule_status;
    // Only a run that ended says how: a stopped one is not known yet.
    if (entry.Status < st::kSuccessful || entry.Status == st::kFirmwareLost ||
        entry.Status > st::kPastWindow) {
        return std::nullopt;
    }
    const int code = ScheduledResultCode(entry);
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
    // The schedule's status 8 stands for every other failure; the history is precise.
    r.ResultText = code == rc::kNotConfirmed
                       ? StatusCellText(stage::kFinished, 0, 100, code, DefaultText)
                       : StatusText(entry, DefaultText);
    // A device not started got no image.
    if (!rc::IsNotStarted(code)) SetHistoryImage(r, entry.FWPath);
    return r;
}
