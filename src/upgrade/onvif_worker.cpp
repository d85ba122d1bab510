// The upgrade of an ONVIF camera of any maker through its device service.
#include <algorithm>

#include "base/result_codes.h"
#include "base/trace.h"
#include "device/upgrade_progress.h"
#include "upgrade/onvif_upgrade_steps.h"
#include "upgrade/onvif_upload.h"
#include "upgrade/upgrade_manager.h"
#include "upgrade/upgrade_workers.h"
#include "upgrade/worker_steps.h"

namespace {

constexpr int kRequestTimeoutMs = 10000;
constexpr int kLookTimeoutMs = 2000;
constexpr int kUploadStallMs = 60000;
// While it waits, the worker asks the camera every this many seconds (more often would
// load a camera that is starting); the search looks every second.
constexpr int kAskEverySeconds = 5;

int Seconds(int64_t ms) { return static_cast<int>((ms + 999) / 1000); }

// The estimate of the time left, from a total, on the job's clock.
class Countdown {
public:
    Countdown(UpgradeJob& job, const Clock& clock, int total)
        : job_(job), clock_(clock), total_(total), start_(clock.NowMs()) {}

    int Left() const { return total_ - static_cast<int>((clock_.NowMs() - start_) / 1000); }
    void Show(int stage = stage::kRunning) {
        const int left = Left();
        ReportJob(job_, stage, left, PercentOf(total_ - left, total_), rc::kOk);
    }

private:
    UpgradeJob& job_;
    const Clock& clock_;
    const int total_;
    const int64_t start_;
};

// The session follows the camera when the search finds it at another address.
void FollowCamera(UpgradeJob& job, COnvifSession& session) {
    const JobAddress at = job.Address();
    session.PreferAddress(
        CameraServiceAddresses(job.ServiceAddresses, at.Scheme, at.Host, at.Port).front());
}

}  // namespace

int RunOnvifWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop) {
    if (!WaitRandomStart(clock, stop)) return rc::kCancelled;
    const JobAddress at = job.Address();
    COnvifSession session(CameraServiceAddresses(job.ServiceAddresses, at.Scheme, at.Host, at.Port),
                          job.UserName, job.Password, kRequestTimeoutMs);
    std::string before;
    OnvifUpgradeTicket ticket;
    job.Result = PrepareOnvifUpgrade(session, before, ticket);
    if (job.Result != rc::kOk) return EndJobAt(job, stage::kEndedEarly);
    const std::string image = job.TakeFrontImage();
    if (image.empty()) {
        job.Result = rc::kFileOpenFailed;
        return EndJobAt(job, stage::kEndedEarly);
    }

    const int downSeconds = Seconds(ticket.ExpectedDownTimeMs) + kOnvifReturnMarginSeconds;
    Countdown estimate(job, clock, Seconds(ticket.UploadDelayMs) + downSeconds);
    estimate.Show();
    // The camera gets ready for the image first.
    for (int64_t waited = 0; waited < ticket.UploadDelayMs; waited += 1000) {
        if (!clock.SleepMs(std::min<int64_t>(1000, ticket.UploadDelayMs - waited), stop)) {
            return rc::kCancelled;
        }
        estimate.Show();
    }

    ReportJob(job, stage::kUploading, 0, 0, rc::kOk);
    const bool digest = session.Auth() == OnvifAuth::Digest;
    RunWatchedUpload(
        clock, stop,
        [&](std::stop_token uploadStop) {
            job.Result =
                UploadOnvifImage(ticket.UploadUri, image, digest, job.UserName, job.Password,
                                 kUploadStallMs, job.ImageSize, job.BytesSent, uploadStop);
        },
        [&] {
            ReportJob(job, stage::kUploading, 0, PercentOf(job.BytesSent, job.ImageSize), rc::kOk);
        });
    if (stop.stop_requested()) return rc::kCancelled;
    if (job.Result != rc::kOk) return EndJobAt(job, stage::kUploadEnded);

    Countdown wait(job, clock, downSeconds);
    wait.Show(stage::kUploadEnded);
    job.Manager->ForgetDevice(job.DeviceId);
    session.SetTimeout(kLookTimeoutMs);
    ReturnWatch watch(before);
    int lastLook = rc::kOk;
    for (int look = 0; !watch.Returned() && wait.Left() > 0; ++look) {
        LookThroughSearch(job, watch);
        if (job.SeenAgain) FollowCamera(job, session);
        if (look % kAskEverySeconds == 0 && !watch.Returned())
            lastLook = LookAtCamera(session, watch);
        wait.Show();
        if (watch.Returned()) break;
        if (!clock.SleepMs(1000, stop)) return rc::kCancelled;
    }
    // Back through the search only: its version is still to be read.
    ReadReturnedVersion(session, watch, clock, stop, lastLook);
    if (stop.stop_requested()) return rc::kCancelled;
    job.FirmwareAfter = watch.VersionAfter();
    job.Result = OnvifReturnOutcome(watch, lastLook);
    if (job.Result != rc::kOk) {
        Trace("ONVIF upgrade of %s ended with %d (version before %s, after %s)",
              job.DeviceId.c_str(), job.Result.load(), before.c_str(), job.FirmwareAfter.c_str());
    }
    return job.Result;
}
