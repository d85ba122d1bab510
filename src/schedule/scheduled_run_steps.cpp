#include "schedule/scheduled_run_steps.h"

#include <optional>

#include "base/result_codes.h"
#include "base/time_of_day.h"
#include "base/trace.h"

namespace st = schedule_status;

void ReportEntry(CScheduledRun& run, IScheduleObserver& observer) {
    observer.EntryProgress(run.Id(), run.Entry());
}

bool PastWindow(const CScheduleInfo& e, const BatchCandidate& job, const Clock& clock,
                const UploadRate& rate) {
    const std::optional<TimeOfDay> until = ParseTimeOfDay(e.Until);
    if (!until) return false;
    const int64_t end = NextTimeOfDay(e.UpgradeTime, *until);
    if (clock.UnixSeconds() + EstimatedSeconds(job, rate) <= end) return false;
    Trace("schedule %s: not started, it would not finish before %s\n", e.MAC.c_str(),
          e.Until.c_str());
    return true;
}

int ScheduleStatusOf(int result) {
    switch (result) {
        case rc::kOk:
            return st::kSuccessful;
        // A refused password is reported as such, whether the device said so with 401 to
        // the request or through its log-in answer, never as a network error.
        case rc::kLoginRefused:
        case rc::kHttpUnauthorized:
            return st::kLoginFailed;
        case rc::kImageRejected:
            return st::kImageFailed;
        default:
            return st::kOtherFailed;
    }
}

int ScheduledResultCode(const CScheduleInfo& entry) {
    switch (entry.Status) {
        case st::kSuccessful:
            return rc::kOk;
        case st::kLoginFailed:
            return rc::kLoginRefused;
        case st::kImageFailed:
            return rc::kImageRejected;
        case st::kOtherFailed:
            if (entry.Result < 0) return entry.Result;
            return entry.UploadResult < 0 ? entry.UploadResult : rc::kFailed;
        case st::kPastWindow:
            return rc::kPastWindow;
        default:
            return rc::kCancelled;
    }
}
