#include "pipeline/upgrade_pipeline.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "base/result_codes.h"
#include "base/trace.h"
#include "device/upgrade_progress.h"
#include "pipeline/worker_steps.h"

namespace {

// A look while the device restarts; one that is up answers at once.
constexpr int kLookTimeoutMs = 1000;
// The request that reads the version of a device that is back.
constexpr int kVersionTimeoutMs = 2000;
// A device back on the search may not serve its pages yet: asked this many times, a
// second apart.
constexpr int kVersionTries = 3;
// The NVR countdown's requests: over HTTP they take 2 seconds off it, over HTTPS 3.
constexpr int kCountdownAskSeconds[] = {2, 3};

int Seconds(int64_t ms) { return static_cast<int>((ms + 999) / 1000); }

}  // namespace

const ReturnPlan& PlanOf(const FamilyTraits& traits, const PipelinePath& path) {
    if (traits.AssumedDownSeconds > 0 || !path.Wait) return traits.Wait;
    return *path.Wait;
}

namespace {

// The time left as the job shows it: seconds from a total on a stopwatch, at `stage`.
class Estimate {
public:
    Estimate(UpgradeJob& job, const Clock& clock, int total)
        : job_(job), clock_(clock), total_(total), start_(clock.NowMs()) {}

    int Total() const { return total_; }
    void Restart() { start_ = clock_.NowMs(); }
    int Elapsed() const { return static_cast<int>((clock_.NowMs() - start_) / 1000); }
    void Show(int left, int stage = stage::kRunning) {
        ReportJob(job_, stage, left, PercentOf(total_ - left, total_), rc::kOk);
    }
    // `count` seconds, each followed by a report of `left` less the time elapsed.
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

// Asks the device with every attempt until one is answered; unanswered, it is away.
bool AskOnce(IUpgradeSession& session, int timeoutMs, ReturnWatch& watch) {
    for (int attempt = 0; attempt < session.Attempts(); ++attempt) {
        if (session.Ask(attempt, timeoutMs, watch)) return true;
    }
    watch.Unanswered();
    return false;
}

// One look through the search. A device reported at another address is a claim until
// the device that answers there proves to be ours (the session's asks check what it
// names): then it is back there, with the version it named; else the job keeps its
// address.
void LookAround(UpgradeJob& job, IUpgradeSession& session, ReturnWatch& watch) {
    const JobAddress was = job.Address();
    job.Manager->ProbeDevice(job.DeviceId);
    const auto now = std::chrono::steady_clock::now();
    if (job.SeenAgain) {
        const JobAddress at = job.Address();
        if (at.Host == was.Host && at.Port == was.Port) {
            watch.Reported(now);
        } else {
            session.Follow(at);
            ReturnWatch there(watch.VersionBefore());
            there.Unanswered();
            bool answered = false;
            for (int attempt = 0; attempt < session.Attempts() && !answered; ++attempt) {
                answered = session.Ask(attempt, kLookTimeoutMs, there);
            }
            if (answered) {
                watch.SeenElsewhere(at.Host);
                watch.Answered(there.VersionAfter());
            } else {
                Trace("upgrade of %s: reported at %s:%d, but what answers there is not it",
                      job.DeviceId.c_str(), at.Host.c_str(), at.Port);
                job.SetAddress(was);
                session.Follow(was);
            }
        }
        // Until it has returned, each report must be a fresh one.
        if (!watch.Returned()) job.Manager->ForgetDevice(job.DeviceId);
    }
    watch.Looked(now);
}

// The maker NVR's countdown: every second a look through the search, at times a
// request to the device, each taking its seconds off the countdown; once the device
// is back, at most the settle is left.
bool CountDown(UpgradeJob& job, IUpgradeSession& session, const ReturnPlan& plan,
               ReturnWatch& watch, const Clock& clock, std::stop_token stop) {
    const int total = plan.WindowSeconds;
    const auto show = [&](int left) {
        ReportJob(job, stage::kRunning, left, PercentOf(total - left, total), rc::kOk);
    };
    // Asking every second would load a device that is busy starting.
    const auto askNow = [](int left) {
        return (left <= 240 && left % 30 == 0) || (left <= 60 && left % 10 == 0);
    };
    for (int left = total;;) {
        LookAround(job, session, watch);
        // Seen to restart and come back through the search: no need to wait it out.
        if (watch.Returned()) left = std::min(left, plan.SettleSeconds);
        show(left);
        if (!clock.SleepMs(1000, stop)) return false;
        int next = left - 1;
        if (!watch.Returned() && askNow(next)) {
            bool answered = false;
            for (int attempt = 0; attempt < session.Attempts() && !answered; ++attempt) {
                const int after = left - kCountdownAskSeconds[std::min(attempt, 1)];
                answered = session.Ask(attempt, kLookTimeoutMs, watch);
                LookAround(job, session, watch);
                show(after);
                next = after;
            }
            if (!answered) watch.Unanswered();
            // An answer before the restart (the device still writing its flash) does not
            // end the wait; one after it does.
            if (watch.Returned()) next = std::min(next, plan.SettleSeconds);
        }
        if (next < 1) return true;
        left = next;
    }
}

// A window of looks: the search every second, the device every AskEveryLooks.
// `show` reports the time left. False when stopped.
template <typename Show>
bool LookDuring(UpgradeJob& job, IUpgradeSession& session, const ReturnPlan& plan,
                ReturnWatch& watch, const Clock& clock, std::stop_token stop, Show show) {
    const int64_t start = clock.NowMs();
    const int64_t windowMs = static_cast<int64_t>(plan.WindowSeconds) * 1000;
    const int every = std::max(1, plan.AskEveryLooks);
    // Each round takes a second of the clock or a real request time-out: bounded.
    for (int look = 0; !watch.Returned() && clock.NowMs() - start < windowMs; ++look) {
        LookAround(job, session, watch);
        if (look % every == 0 && !watch.Returned()) AskOnce(session, kLookTimeoutMs, watch);
        show();
        if (watch.Returned()) break;
        if (!clock.SleepMs(1000, stop)) return false;
    }
    return true;
}

// The result once the wait is over: -10 when the device did not restart and come back;
// else its version is read (a few times when the looks did not name it) into
// job.FirmwareAfter and proves the upgrade as the family's traits say.
int VersionProof(UpgradeJob& job, IUpgradeSession& session, const FamilyTraits& traits,
                 ReturnWatch& watch, const Clock& clock, std::stop_token stop) {
    if (!watch.Returned()) {
        Trace("upgrade of %s: the device did not restart and come back", job.DeviceId.c_str());
        return rc::kNotSeenAgain;
    }
    for (int tries = 0; watch.VersionAfter().empty() && tries < kVersionTries; ++tries) {
        if (tries > 0 && !clock.SleepMs(1000, stop)) break;
        AskOnce(session, kVersionTimeoutMs, watch);
    }
    job.FirmwareAfter = watch.VersionAfter();
    if (!watch.NewAddress().empty()) {
        Trace("upgrade of %s: back at the new address %s", job.DeviceId.c_str(),
              watch.NewAddress().c_str());
    }
    return ProvenOutcome(watch, traits, job.ImagesFromStore != 0, session.LastAsk(), job.Result);
}

class Pipeline {
public:
    Pipeline(UpgradeJob& job, const PipelinePath& path, const Clock& clock, std::stop_token stop)
        : job_(job),
          path_(path),
          clock_(clock),
          stop_(std::move(stop)),
          traits_(job.Family->Traits(job)),
          session_(job.Family->Open(job, clock)),
          plan_(PlanOf(traits_, path)) {}

    int Run() {
        if (path_.RandomStart && !WaitRandomStart(clock_, stop_)) return rc::kCancelled;
        if (path_.CheckMacFirst) {
            std::string version;
            job_.Result = session_->CheckMac(job_.Mac, version);
            if (job_.Result != rc::kOk) return EndJobAt(job_, stage::kEndedEarly);
            if (!version.empty()) job_.FirmwareBefore = version;
            if (stop_.stop_requested()) return rc::kCancelled;
        }
        job_.Result = session_->Prepare();
        if (job_.Result != rc::kOk) return EndJobAt(job_, traits_.PrepareFailStage);
        if (!session_->VersionBefore().empty()) job_.FirmwareBefore = session_->VersionBefore();
        const DeviceTiming timing = session_->Timing();
        if (timing.DownTimeMs > 0) plan_.WindowSeconds += Seconds(timing.DownTimeMs);

        const int images = traits_.InstallsEveryImage ? static_cast<int>(job_.ImageQueue.size())
                                                      : std::min<int>(1, job_.ImageQueue.size());
        if (images == 0) {
            job_.Result = rc::kFileOpenFailed;
            return EndJobAt(job_, stage::kEndedEarly);
        }
        if (budgeted()) {
            ReportJob(job_, stage::kRunning, 0, 0, rc::kOk);
            budget_.emplace(
                job_, clock_,
                traits_.BudgetPerImage * images +
                    (images >= 2 ? traits_.MarginSeveralImages : traits_.MarginOneImage));
            left_ = budget_->Total();
        }
        if (traits_.AssumedDownSeconds > 0 && !AwaitUploadDelay(timing)) return rc::kCancelled;

        std::string before = job_.FirmwareBefore;
        for (int i = 0; i < images; ++i) {
            if (const int code = Install(before); code != rc::kOk) return code;
            before = job_.FirmwareAfter;
        }
        if (budgeted() && images >= 2 && !budget_->Pass(traits_.ExtraAfterSeveral, left_, stop_)) {
            return rc::kCancelled;
        }
        return job_.Result;
    }

private:
    bool budgeted() const { return traits_.BudgetPerImage > 0; }

    // The device asked for a pause before its image; the estimate covers it and the
    // wait after the image.
    bool AwaitUploadDelay(const DeviceTiming& timing) {
        deviceEstimate_.emplace(job_, clock_, Seconds(timing.UploadDelayMs) + plan_.WindowSeconds);
        ShowDeviceEstimate();
        for (int64_t waited = 0; waited < timing.UploadDelayMs; waited += 1000) {
            if (!clock_.SleepMs(std::min<int64_t>(1000, timing.UploadDelayMs - waited), stop_)) {
                return false;
            }
            ShowDeviceEstimate();
        }
        return true;
    }

    void ShowDeviceEstimate(int stage = stage::kRunning) {
        deviceEstimate_->Show(deviceEstimate_->Total() - deviceEstimate_->Elapsed(), stage);
    }

    // One image: its upload, the wait for the device and the proof. 0 to go on.
    int Install(const std::string& before) {
        const std::string image = job_.ImageQueue.front();
        job_.Manager->Uploading(0, 0);
        if (budgeted()) {
            budget_->Restart();
            budget_->Show(left_);
        } else {
            ReportJob(job_, stage::kUploading, 0, 0, rc::kOk);
        }
        Upload(image);
        if (stop_.stop_requested()) return rc::kCancelled;
        if (job_.Result != rc::kOk) return EndJobAt(job_, stage::kUploadEnded);
        if (budgeted()) {
            left_ -= traits_.BudgetUploadSeconds;
            ReportJob(job_, stage::kUploadEnded, left_,
                      PercentOf(budget_->Total() - left_, budget_->Total()), rc::kOk);
            budget_->Restart();
        } else if (deviceEstimate_) {
            deviceEstimate_.emplace(job_, clock_, plan_.WindowSeconds);
            ShowDeviceEstimate(stage::kUploadEnded);
        }

        if (!Pause(plan_.PauseSeconds)) return rc::kCancelled;
        job_.Manager->ForgetDevice(job_.DeviceId);
        ReturnWatch watch(before);
        if (!AwaitReturn(watch)) return rc::kCancelled;
        if (plan_.SettleSeconds > 0 && !plan_.NvrCountdown &&
            (plan_.SettleAlways || watch.Returned())) {
            // Back (or maybe still writing its flash): let it finish starting up.
            if (budgeted()) budget_->Restart();
            // A stop cuts this short; a device that is back is judged all the same.
            if (!Pause(plan_.SettleSeconds) && !watch.Returned()) return rc::kCancelled;
            if (budgeted()) left_ -= plan_.SettleSeconds;
        }
        const int outcome = VersionProof(job_, *session_, traits_, watch, clock_, stop_);
        job_.Result = outcome;
        if (outcome != rc::kOk) {
            Trace("upgrade of %s ended with %d (version before %s, after %s)",
                  job_.DeviceId.c_str(), outcome, before.c_str(), job_.FirmwareAfter.c_str());
        }
        return outcome;
    }

    void Upload(const std::string& image) {
        const auto tick = [&] {
            job_.Manager->Uploading(job_.ImageSize, job_.BytesSent);
            if (budgeted()) {
                budget_->Show(left_ - std::min(budget_->Elapsed(), traits_.BudgetUploadSeconds));
                return;
            }
            const int64_t size = job_.ImageSize;
            if (size > 0) {
                ReportJob(job_, stage::kUploading, 0, PercentOf(job_.BytesSent, size), rc::kOk);
            }
        };
        const std::stop_token never;
        RunTimedUpload(
            job_, image, clock_, stop_,
            [&](std::stop_token uploadStop) {
                job_.Result = session_->UploadFront(path_.UploadIgnoresStop ? never : uploadStop);
            },
            tick);
        job_.Manager->Uploading(job_.ImageSize, job_.BytesSent);
        job_.Manager->UploadEnded(job_.DeviceId, job_.Result);
    }

    // `seconds` passed, reported on the budget when there is one.
    bool Pause(int seconds) {
        if (budgeted()) return budget_->Pass(seconds, left_, stop_);
        return clock_.SleepMs(static_cast<int64_t>(seconds) * 1000, stop_);
    }

    bool AwaitReturn(ReturnWatch& watch) {
        if (plan_.NvrCountdown) return CountDown(job_, *session_, plan_, watch, clock_, stop_);
        const bool looked = LookDuring(job_, *session_, plan_, watch, clock_, stop_, [&] {
            if (budgeted()) {
                budget_->Show(left_ - budget_->Elapsed());
            } else if (deviceEstimate_) {
                ShowDeviceEstimate();
            }
        });
        // The budget counted the pause and the window as one wait.
        if (budgeted()) left_ -= plan_.PauseSeconds + plan_.WindowSeconds;
        return looked;
    }

    UpgradeJob& job_;
    const PipelinePath& path_;
    const Clock& clock_;
    const std::stop_token stop_;
    const FamilyTraits traits_;
    const std::unique_ptr<IUpgradeSession> session_;
    ReturnPlan plan_;
    std::optional<Estimate> budget_;          // the job's budget (BudgetPerImage)
    std::optional<Estimate> deviceEstimate_;  // the wait the device named
    int left_ = 0;                            // of the budget
};

}  // namespace

int RunUpgradePipeline(UpgradeJob& job, const PipelinePath& path, const Clock& clock,
                       std::stop_token stop) {
    return Pipeline(job, path, clock, std::move(stop)).Run();
}

std::optional<int> LookForReturn(UpgradeJob& job, ReturnWatch& watch, int timeoutMs,
                                 const Clock& clock, std::stop_token stop) {
    const FamilyTraits traits = job.Family->Traits(job);
    const std::unique_ptr<IUpgradeSession> session = job.Family->Open(job, clock);
    if (job.Manager) LookAround(job, *session, watch);
    // Each sighting must be a fresh one, as during the wait.
    job.SeenAgain = 0;
    if (!watch.Returned()) AskOnce(*session, timeoutMs, watch);
    if (!watch.Returned()) return std::nullopt;
    job.Result = rc::kOk;
    return VersionProof(job, *session, traits, watch, clock, stop);
}

int ProvenOutcome(const ReturnWatch& watch, const FamilyTraits& traits, bool imagesFromStore,
                  int lastAsk, int result) {
    if (!watch.Returned()) return rc::kNotSeenAgain;
    if (watch.VersionAfter().empty()) {
        if (!traits.NeedsVersionAfter) return result;
        return lastAsk < 0 ? lastAsk : rc::kFailed;
    }
    if ((traits.SameVersionFails || imagesFromStore) &&
        watch.VersionAfter() == watch.VersionBefore()) {
        Trace("back with its old firmware %s", watch.VersionAfter().c_str());
        return rc::kOldFirmwareStill;
    }
    return result;
}

int64_t PathWaitSeconds(const UpgradeJob& job, const PipelinePath& path) {
    const FamilyTraits traits = job.Family->Traits(job);
    return ReturnWaitSeconds(traits, PlanOf(traits, path), static_cast<int>(job.ImageQueue.size()));
}

int64_t ReturnWaitSeconds(const FamilyTraits& traits, const ReturnPlan& plan, int images) {
    const int64_t count = traits.InstallsEveryImage ? std::max(1, images) : 1;
    if (plan.NvrCountdown) return count * plan.WindowSeconds;
    const int64_t each =
        plan.PauseSeconds + plan.WindowSeconds + traits.AssumedDownSeconds + plan.SettleSeconds;
    return count * each + (count >= 2 ? traits.ExtraAfterSeveral : 0);
}
