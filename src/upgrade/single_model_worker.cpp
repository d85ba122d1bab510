#include <algorithm>

#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "upgrade/job_exchanges.h"
#include "upgrade/upgrade_manager.h"
#include "upgrade/upgrade_workers.h"
#include "upgrade/worker_steps.h"

namespace {

// The estimate per image: the upload, the wait for the device's return (whose first
// 30 seconds pass before it is looked for), and a settling pause.
constexpr int kSecondsPerImage = 340;
constexpr int kUploadSeconds = 150;
constexpr int kReturnSeconds = 150;
constexpr int kBeforeLookingSeconds = 30;
constexpr int kSettleSeconds = 10;
// The estimate's margin for one image and for several; after several images the
// device is given 45 seconds more before the job counts as done.
constexpr int kMarginOneImage = 10;
constexpr int kMarginSeveralImages = 55;
constexpr int kSeveralImagesExtra = 45;
// While it waits for the device, the worker asks it over HTTP every this many seconds
// (more often would load a device that is starting).
constexpr int kAskEverySeconds = 10;
constexpr int kAskTimeoutMs = 1000;

// The time left as the worker estimates it: seconds from a total, measured on a
// stopwatch that each step restarts.
class Estimate {
public:
    Estimate(UpgradeJob& job, const Clock& clock, int total)
        : job_(job), clock_(clock), total_(total), start_(clock.NowMs()) {}

    int Total() const { return total_; }
    void Restart() { start_ = clock_.NowMs(); }
    // Whole seconds since the stopwatch was last started.
    int Elapsed() const { return static_cast<int>((clock_.NowMs() - start_) / 1000); }

    void Show(int secondsLeft) {
        ReportJob(job_, stage::kRunning, secondsLeft, PercentOf(total_ - secondsLeft, total_),
                  rc::kOk);
    }

    // `count` seconds, each followed by a report of `left` minus the time elapsed.
    // False when stopped meanwhile.
    bool Pass(int count, int left, std::stop_token stop) {
        for (int i = 0; i < count; ++i) {
            if (!clock_.SleepMs(1000, stop)) return false;
            Show(left - Elapsed());
        }
        return true;
    }

private:
    UpgradeJob& job_;
    const Clock& clock_;
    const int total_;
    int64_t start_;
};

}  // namespace

int64_t SingleModelWaitSeconds(int images) {
    return static_cast<int64_t>(images) *
               (kBeforeLookingSeconds + kReturnSeconds + kSettleSeconds) +
           (images >= 2 ? kSeveralImagesExtra : 0);
}

int RunSingleModelWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop) {
    if (!WaitRandomStart(clock, stop)) return rc::kCancelled;
    job.Result = PrepareUpgrade(job);
    if (job.Result != rc::kOk) return EndJobAt(job, stage::kUploadEnded);

    const int images = static_cast<int>(job.ImageQueue.size());
    const bool several = images >= 2;
    ReportJob(job, stage::kRunning, 0, 0, rc::kOk);
    Estimate estimate(
        job, clock, kSecondsPerImage * images + (several ? kMarginSeveralImages : kMarginOneImage));
    int left = estimate.Total();
    // The version before each image: the device's own, then what the last image left.
    std::string before = job.FirmwareBefore;
    while (!job.ImageQueue.empty()) {
        estimate.Show(left);
        RunTimedUpload(
            job, clock, stop,
            [&job](std::stop_token uploadStop) { UploadFrontImageFirmwareCgi(job, uploadStop); },
            [&] { estimate.Show(left - std::min(estimate.Elapsed(), kUploadSeconds)); });
        if (job.Result != rc::kOk) return EndJobAt(job, stage::kUploadEnded);
        left -= kUploadSeconds;
        ReportJob(job, stage::kUploadEnded, left,
                  PercentOf(estimate.Total() - left, estimate.Total()), rc::kOk);

        estimate.Restart();
        if (!estimate.Pass(kBeforeLookingSeconds, left, stop)) return rc::kCancelled;
        job.Manager->ForgetDevice(job.DeviceId);
        ReturnWatch watch(before, job.Address().Host);
        for (int look = 0; !watch.Returned() && estimate.Elapsed() < kReturnSeconds; ++look) {
            LookThroughSearch(job, watch);
            if (look % kAskEverySeconds == 0) AskDeviceEitherWay(job, kAskTimeoutMs, watch);
            estimate.Show(left - estimate.Elapsed());
            if (watch.Returned()) break;
            if (!clock.SleepMs(1000, stop)) return rc::kCancelled;
        }
        left -= kReturnSeconds;

        estimate.Restart();
        if (!estimate.Pass(kSettleSeconds, left, stop)) return rc::kCancelled;
        left -= kSettleSeconds;
        // A device that did not restart and come back gets no further image: it may
        // still be writing the last one.
        if (ReturnOutcome(job, watch, clock, stop) != rc::kOk) return job.Result;
        before = job.FirmwareAfter;
    }
    if (several && !estimate.Pass(kSeveralImagesExtra, left, stop)) return rc::kCancelled;
    return job.Result;
}
