#include "schedule/scheduled_upgrade.h"

#include <filesystem>
#include <optional>
#include <string>

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "families/families.h"
#include "pipeline/upgrade_pipeline.h"
#include "schedule/entry_device.h"
#include "schedule/scheduled_run_steps.h"

namespace {

namespace st = schedule_status;

// The schedule's wait for every device that does not name its own: a 10 s pause, then a
// look every second for up to 7 minutes, then 10 s more once it is back.
PipelinePath ScheduledPath() {
    PipelinePath path;
    ReturnPlan wait;
    wait.PauseSeconds = 10;
    wait.WindowSeconds = 420;
    wait.AskEveryLooks = 1;
    wait.SettleSeconds = 10;
    path.Wait = wait;
    path.RandomStart = false;
    path.CheckMacFirst = true;
    path.UploadIgnoresStop = true;
    return path;
}

}  // namespace

void FillScheduledJob(const CScheduleInfo& e, UpgradeJob& job) {
    const std::string scheme = e.Https ? "https" : "http";
    job.DeviceId = e.MAC;
    job.SetAddress({scheme, e.IP, static_cast<int32_t>(ParseDecimal(e.Port))});
    job.UserName = e.Account;
    job.Password = e.Password;
    job.ImageQueue = {e.FWPath};
    job.FirmwareBefore = e.VersionBefore;
    job.Mac = e.MAC;
    job.Model = e.Model;
    const CIPCamInfo device = EntryDevice(e);
    job.Protocol = device.Protocol;
    job.ServiceAddresses = device.ServiceAddresses;
    job.Family = &FamilyFor(job.Protocol);
    job.SingleModel = job.Family->Images(e.Model).SingleModel;
}

namespace {

// What the pipeline reports, as the entry's statuses: 3 while the image goes out, 4 once
// the upload has ended; the device found elsewhere through `locator`.
class ScheduleHost final : public IJobHost {
public:
    ScheduleHost(CScheduledRun& run, UpgradeJob& job, IScheduleObserver& observer, UploadRate& rate,
                 IDeviceLocator* locator)
        : run_(run), job_(job), observer_(observer), rate_(rate), locator_(locator) {}

    bool Uploaded() const { return uploaded_; }

    void Report(const std::string&, int, int, int, int) override {}

    void UploadEnded(const std::string&, int code) override {
        uploaded_ = true;
        run_.SetUploadResult(code);
        run_.SetStatus(st::kUpgrading);
        ReportEntry(run_, observer_);
    }

    void Uploading(int64_t total, int64_t sent) override {
        if (!uploading_) {
            uploading_ = true;
            run_.SetStatus(st::kUploading);
        }
        run_.SetUploadProgress(total, sent);
        ReportEntry(run_, observer_);
    }

    void ForgetDevice(const std::string&) override { job_.SeenAgain = 0; }

    // A device naming the entry's MAC elsewhere is the device come back at a new address.
    void ProbeDevice(const std::string&) override {
        if (!locator_) return;
        const std::optional<DeviceSighting> seen = locator_->Locate(job_.Mac);
        const JobAddress at = job_.Address();
        if (!seen || (seen->Host == at.Host && seen->Port == at.Port)) return;
        job_.MarkSeenAgain({at.Scheme, seen->Host, seen->Port});
    }

    void UploadTimed(int64_t bytes, int64_t ms) override { rate_.Add(bytes, ms); }

private:
    CScheduledRun& run_;
    UpgradeJob& job_;
    IScheduleObserver& observer_;
    UploadRate& rate_;
    IDeviceLocator* const locator_;
    bool uploading_ = false;
    bool uploaded_ = false;
};

// The status the run ends with.
int Outcome(CScheduledRun& run, UpgradeJob& job, const Clock& clock, IScheduleObserver& observer,
            std::stop_token stop, UploadRate& rate, IDeviceLocator* locator) {
    const CScheduleInfo entry = run.Entry();
    if (stop.stop_requested()) return st::kQueued;
    ScheduleHost host(run, job, observer, rate, locator);
    job.Manager = &host;
    const int result = RunUpgradePipeline(job, ScheduledPath(), clock, stop);
    if (!job.FirmwareBefore.empty() && job.FirmwareBefore != entry.VersionBefore) {
        run.SetVersionBefore(job.FirmwareBefore);
    }
    const JobAddress at = job.Address();
    if (at.Host != entry.IP || std::to_string(at.Port) != entry.Port) {
        Trace("schedule %s: back at the new address %s:%d\n", entry.MAC.c_str(), at.Host.c_str(),
              at.Port);
        run.SetAddress(at.Host, std::to_string(at.Port));
    }
    if (!job.FirmwareAfter.empty()) run.SetFirmwareVersion(job.FirmwareAfter);
    // Stopped first: before the upload it is queued again; after it, the outcome is not
    // known.
    if (result == rc::kCancelled && stop.stop_requested()) {
        return host.Uploaded() ? st::kUpgrading : st::kQueued;
    }
    if (result != rc::kOk) {
        Trace("schedule %s: the upgrade ended with %d\n", entry.MAC.c_str(), result);
    }
    const int status = ScheduleStatusOf(result);
    // The precise code stays with the run (its text, its history record).
    if (status == st::kOtherFailed && result < 0) run.SetResult(result);
    return status;
}

}  // namespace

void RunScheduledUpgrade(CScheduledRun run, const Clock& clock, IScheduleObserver& observer,
                         std::stop_token stop, UploadRate* rate, IDeviceLocator* locator) {
    UploadRate assumed;
    UploadRate& measured = rate ? *rate : assumed;
    const CScheduleInfo entry = run.Entry();
    UpgradeJob job;
    FillScheduledJob(entry, job);
    int status = st::kPastWindow;
    if (!PastWindow(entry, ScheduledCandidate(entry, clock), clock, measured)) {
        status = Outcome(run, job, clock, observer, stop, measured, locator);
    }
    const CScheduleInfo finished = run.Finish(status);
    Trace("schedule %s: run ended with status %d\n", finished.MAC.c_str(), status);
    observer.EntryFinished(run.Id(), finished);
}

BatchCandidate ScheduledCandidate(const CScheduleInfo& entry, const Clock& clock) {
    UpgradeJob job;
    FillScheduledJob(entry, job);
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(entry.FWPath, error);
    return {entry.MAC, entry.Model, error ? 0 : static_cast<int64_t>(size),
            clock.WallSecondsFor(PathWaitSeconds(job, ScheduledPath()))};
}
