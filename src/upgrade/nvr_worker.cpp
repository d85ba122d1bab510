#include <algorithm>
#include <optional>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "upgrade/job_exchanges.h"
#include "upgrade/upgrade_manager.h"
#include "upgrade/upgrade_workers.h"
#include "upgrade/worker_steps.h"

namespace {

constexpr int kRebootSeconds = 360;
constexpr int kAnswerTimeoutMs = 1000;
// Once the device answers, the countdown goes on for this long at most: it is up, but
// may still be starting its services.
constexpr int kAfterAnswerSeconds = 10;

void ReportCountdown(UpgradeJob& job, int seconds) {
    ReportJob(job, stage::kRunning, seconds, PercentOf(kRebootSeconds - seconds, kRebootSeconds),
              rc::kOk);
}

// Asking every second would load a device that is busy starting; it is asked every 30
// seconds from 240 seconds left, every 10 from 60.
bool AskNow(int secondsLeft) {
    return (secondsLeft <= 240 && secondsLeft % 30 == 0) ||
           (secondsLeft <= 60 && secondsLeft % 10 == 0);
}

// Counts down the device's reboot, once a second looking for it through the search and
// at times asking it over HTTP, then HTTPS. Once it has restarted and answers, the
// countdown is cut short. What was seen of the device; nothing when stopped.
std::optional<ReturnWatch> CountDownReboot(UpgradeJob& job, const Clock& clock,
                                           std::stop_token stop) {
    ReturnWatch watch(job.FirmwareBefore, job.Address().Host);
    for (int left = kRebootSeconds;;) {
        LookThroughSearch(job, watch);
        ReportCountdown(job, left);
        if (!clock.SleepMs(1000, stop)) return std::nullopt;
        int next = left - 1;
        if (!watch.Returned() && AskNow(next)) {
            // Each request counts against the estimate, answered or not.
            struct Attempt {
                const char* Scheme;
                int Seconds;
            };
            bool answered = false;
            for (const Attempt& attempt : {Attempt{"http", 2}, Attempt{"https", 3}}) {
                const int after = left - attempt.Seconds;
                answered = AskDevice(job, attempt.Scheme, kAnswerTimeoutMs, watch);
                LookThroughSearch(job, watch);
                ReportCountdown(job, after);
                next = after;
                if (answered) break;
            }
            if (!answered) watch.Unanswered();
            // An answer before the restart (the device still writing its flash) does not
            // end the wait; one after it does.
            if (watch.Returned()) next = std::min(next, kAfterAnswerSeconds);
        }
        if (next < 1) return watch;
        left = next;
    }
}

}  // namespace

int64_t NvrWaitSeconds() { return kRebootSeconds; }

int RunNvrWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop) {
    if (!WaitRandomStart(clock, stop)) return rc::kCancelled;
    job.Result = VerifyJobLogin(job);
    if (job.Result != rc::kOk) return EndJobAt(job, stage::kEndedEarly);
    if (stop.stop_requested()) return rc::kCancelled;

    ReportJob(job, stage::kUploading, 0, 0, rc::kOk);
    RunTimedUpload(
        job, clock, stop,
        [&job](std::stop_token uploadStop) { UploadFrontImageCgiMain(job, {}, uploadStop); },
        [&job] {
            const int64_t size = job.ImageSize;
            if (size > 0) ReportJob(job, stage::kUploading, 0, PercentOf(job.BytesSent, size), 0);
        });
    if (job.Result != rc::kOk) return EndJobAt(job, stage::kUploadEnded);

    job.Manager->ForgetDevice(job.DeviceId);
    std::optional<ReturnWatch> watch = CountDownReboot(job, clock, stop);
    if (!watch) return rc::kCancelled;
    // The countdown alone proves nothing: only a device seen to restart and come back
    // has taken its image.
    return ReturnOutcome(job, *watch, clock, stop);
}
