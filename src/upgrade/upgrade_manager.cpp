#include "upgrade/upgrade_manager.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iterator>

#include "base/result_codes.h"
#include "base/trace.h"
#include "device/upgrade_progress.h"
#include "families/families.h"
#include "pipeline/return_watch.h"
#include "pipeline/upgrade_pipeline.h"

namespace {

// Upgrade now: the family's own waits.
int RunUpgradeWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop) {
    return RunUpgradePipeline(job, PipelinePath{}, clock, std::move(stop));
}

// What the run's guard judges of a job: its model (an ONVIF camera's names its maker),
// the bytes it will send (the images its family installs in one run) and its family's
// wait for the device, in wall-clock seconds as the window is.
BatchCandidate CandidateOf(const UpgradeJob& job, const Clock& clock) {
    BatchCandidate candidate;
    candidate.DeviceId = job.DeviceId;
    candidate.Model = job.Model;
    const FamilyTraits traits = job.Family->Traits(job);
    const size_t images = traits.InstallsEveryImage ? job.ImageQueue.size() : 1;
    for (size_t i = 0; i < images && i < job.ImageQueue.size(); ++i) {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(job.ImageQueue[i], error);
        if (!error) candidate.ImageBytes += static_cast<int64_t>(size);
    }
    candidate.WaitSeconds = clock.WallSecondsFor(PathWaitSeconds(job, PipelinePath{}));
    return candidate;
}

}  // namespace

CUpgradeManager::CUpgradeManager(const Clock& clock) : CUpgradeManager(clock, RunUpgradeWorker) {}

CUpgradeManager::CUpgradeManager(const Clock& clock, JobRunner runner)
    : clock_(clock), runner_(std::move(runner)) {}

CUpgradeManager::~CUpgradeManager() {
    Stop();
    std::lock_guard join(joinLock_);
    ended_.clear();
}

void CUpgradeManager::AddObserver(IRegistryObserver& observer) {
    std::lock_guard lock(lock_);
    observers_.push_back(&observer);
}

void CUpgradeManager::AddControl(IDeviceFinder& control) {
    std::lock_guard lock(lock_);
    controls_.push_back(&control);
}

std::string CUpgradeManager::StartJob(const JobRequest& request) {
    ReapEnded();
    auto entry = std::make_unique<Entry>();
    UpgradeJob& job = entry->Job;
    job.DeviceId = request.DeviceId;
    job.SetAddress({request.Scheme, request.Host, request.Port});
    job.UserName = request.UserName;
    job.Password = request.Password;
    job.ImageQueue = request.ImageQueue;
    job.Manager = this;
    job.RunFlag = request.RunFlag;
    job.SingleModel = request.SingleModel;
    job.FirmwareBefore = request.FirmwareVersion;
    job.ImagesFromStore = request.ImagesFromStore;
    job.Mac = request.Mac;
    job.Protocol = request.Protocol;
    job.ServiceAddresses = request.ServiceAddresses;
    job.Model = request.Model;
    job.Family = &FamilyFor(request.Protocol);
    // A family that installs every image ends each upload with a stage-2 report; the
    // others install the front image only.
    entry->Uploads = job.Family->Traits(job).InstallsEveryImage
                         ? std::max<int>(1, static_cast<int>(request.ImageQueue.size()))
                         : 1;

    entry->Candidate = CandidateOf(job, clock_);
    if (!request.ImageQueue.empty()) entry->FrontImage = request.ImageQueue.front();

    bool queued = false;
    bool stopped = false;
    std::vector<Refusal> refused;
    std::vector<IRegistryObserver*> observers;
    // The same device listed under another key names the same MAC: two uploads to one
    // device at once can leave it unable to start.
    const std::string mac = MacKey(request.Mac);
    const auto sameDevice = [&](const EntryPtr& e) {
        return e->Job.DeviceId == request.DeviceId || (!mac.empty() && MacKey(e->Job.Mac) == mac);
    };
    {
        std::lock_guard lock(lock_);
        if (request.DeviceId.empty() ||
            std::any_of(runningJobs_.begin(), runningJobs_.end(), sameDevice) ||
            std::any_of(pending_.begin(), pending_.end(), sameDevice)) {
            Trace("upgrade of %s not started: it already has a job", request.DeviceId.c_str());
            return std::string();
        }
        if (!runOpen_) {
            // A new run: its own guards, failures and rate.
            guard_ = BatchGuard(nextPolicy_);
            rate_.Clear();
        }
        runOpen_ = true;
        if (stopping_) {
            stopped = true;
            ++deliveries_;
        } else {
            const Entry* added = entry.get();
            pending_.push_back(std::move(entry));
            LaunchWhatMay(refused);
            queued = std::any_of(pending_.begin(), pending_.end(),
                                 [&](const EntryPtr& e) { return e.get() == added; });
        }
        observers = observers_;
    }
    // A new upgrade of a device speaks for it from now on.
    if (lateWatch_) lateWatch_->Forget(request.DeviceId);
    if (queued) Forward(observers, {request.DeviceId, stage::kRunning, 0, 0, rc::kOk, {}});
    SendRefusals(refused);
    if (stopped) {
        Forward(observers, {request.DeviceId, stage::kFinished, 0, 100, rc::kCancelled, {}});
        FinalDelivered();
    }
    return request.DeviceId;
}

void CUpgradeManager::SetBatchPolicy(const BatchPolicy& policy) {
    std::lock_guard lock(lock_);
    nextPolicy_ = policy;
}

void CUpgradeManager::WatchLateReturns(int64_t watchMs) {
    lateWatch_ = std::make_unique<CLateReturnWatch>(
        clock_, watchMs,
        [this](const std::string& deviceId, const std::string& version) {
            ReturnedLate(deviceId, version);
        },
        journal_);
}

int CUpgradeManager::LateWatching() const { return lateWatch_ ? lateWatch_->Watching() : 0; }

void CUpgradeManager::UploadTimed(int64_t bytes, int64_t ms) { rate_.Add(bytes, ms); }

void CUpgradeManager::ReturnedLate(const std::string& deviceId, const std::string& version) {
    std::vector<IRegistryObserver*> observers;
    std::vector<IDeviceFinder*> controls;
    {
        std::lock_guard lock(lock_);
        // A new upgrade of the device has begun meanwhile: its own report will tell.
        if (HasJob(deviceId)) return;
        observers = observers_;
        controls = controls_;
    }
    if (!version.empty()) {
        for (IDeviceFinder* control : controls) control->FirmwareVersionRead(deviceId, version);
    }
    Forward(observers, {deviceId, stage::kFinished, 0, 100, rc::kReturnedLate, version});
}

void CUpgradeManager::Report(const std::string& deviceId, int stage, int seconds, int percent,
                             int code) {
    Deliver({deviceId, stage, seconds, percent, code, {}});
}

void CUpgradeManager::Deliver(const UpgradeReport& report) {
    const bool final = report.Stage == stage::kFinished;
    Entry* entry = nullptr;
    std::vector<IRegistryObserver*> observers;
    std::vector<IDeviceFinder*> controls;
    {
        std::lock_guard lock(lock_);
        entry = FindRunning(report.DeviceId);
        if (!entry) return;
        if (final) {
            // Out of the running jobs at once, so that no second final gets through.
            auto at = std::find_if(runningJobs_.begin(), runningJobs_.end(),
                                   [&](const EntryPtr& e) { return e.get() == entry; });
            ended_.push_back(std::move(*at));
            runningJobs_.erase(at);
            ++deliveries_;
        }
        observers = observers_;
        controls = controls_;
    }
    if (!final) NoteInFlight(*entry, report.Stage);
    if (final && !report.FirmwareVersion.empty()) {
        for (IDeviceFinder* control : controls)
            control->FirmwareVersionRead(report.DeviceId, report.FirmwareVersion);
    }
    Forward(observers, report);
    if (final && report.Code == rc::kNotSeenAgain && lateWatch_) lateWatch_->Watch(entry->Job);
    if (final) NoteLanded(*entry, report.Code);
    // The place passes on after the report that frees it has been shown. The entry
    // stays valid: it is freed only once its worker has returned from this call.
    std::vector<Refusal> refused;
    if (final || report.Stage == stage::kUploadEnded) {
        std::lock_guard lock(lock_);
        if (!final) ++entry->UploadEndReports;
        if (final || entry->UploadEndReports >= entry->Uploads) FreePlace(*entry);
        // The end may let held jobs start, or make the guard refuse them.
        if (final) guard_.Ended(report.DeviceId, report.Code);
        LaunchWhatMay(refused);
    }
    SendRefusals(refused);
    if (final) FinalDelivered();
}

void CUpgradeManager::UploadEnded(const std::string& deviceId, int) {
    std::vector<Refusal> refused;
    {
        std::lock_guard lock(lock_);
        Entry* entry = FindRunning(deviceId);
        if (!entry || ++entry->UploadsEnded < entry->Uploads) return;
        FreePlace(*entry);
        LaunchWhatMay(refused);
    }
    SendRefusals(refused);
}

void CUpgradeManager::DeviceSeenAgain(const std::string& deviceId, const std::string& scheme,
                                      const std::string& host, int port) {
    {
        std::lock_guard lock(lock_);
        for (const EntryPtr& entry : runningJobs_) {
            if (entry->Job.DeviceId == deviceId) entry->Job.MarkSeenAgain({scheme, host, port});
        }
    }
    if (lateWatch_) lateWatch_->SeenAgain(deviceId, {scheme, host, port});
}

void CUpgradeManager::ForgetDevice(const std::string& deviceId) {
    std::vector<IDeviceFinder*> controls;
    {
        std::lock_guard lock(lock_);
        // Each reboot must be followed by a sighting of its own: one left from an
        // earlier image would let the job go on while the device is still away.
        for (const EntryPtr& entry : runningJobs_) {
            if (entry->Job.DeviceId == deviceId) entry->Job.SeenAgain = 0;
        }
        controls = controls_;
    }
    for (IDeviceFinder* control : controls) control->ForgetDevice(deviceId);
}

void CUpgradeManager::ProbeDevice(const std::string& deviceId) {
    std::vector<IDeviceFinder*> controls;
    {
        std::lock_guard lock(lock_);
        controls = controls_;
    }
    // No lock held: the control answers through DeviceSeenAgain on this thread.
    for (IDeviceFinder* control : controls) control->CheckDeviceReturned(deviceId);
}

void CUpgradeManager::DispatchBegins() {
    std::lock_guard lock(lock_);
    ++dispatches_;
}

void CUpgradeManager::DispatchEnds() { CountDown(dispatches_); }

void CUpgradeManager::Stop() {
    std::deque<EntryPtr> waiting;
    std::vector<IRegistryObserver*> observers;
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
        waiting.swap(pending_);
        deliveries_ += static_cast<int>(waiting.size());
        // A worker may still be finishing after its final report.
        for (const EntryPtr& entry : runningJobs_) entry->Worker.request_stop();
        for (const EntryPtr& entry : ended_) entry->Worker.request_stop();
        observers = observers_;
    }
    if (lateWatch_) lateWatch_->Stop();
    for (const EntryPtr& entry : waiting) {
        Forward(observers, {entry->Job.DeviceId, stage::kFinished, 0, 100, rc::kCancelled, {}});
        FinalDelivered();
    }
    std::lock_guard join(joinLock_);
    for (;;) {
        std::vector<Entry*> workers;
        {
            std::lock_guard lock(lock_);
            for (const EntryPtr& e : runningJobs_)
                if (e->Worker.joinable()) workers.push_back(e.get());
            for (const EntryPtr& e : ended_)
                if (e->Worker.joinable()) workers.push_back(e.get());
        }
        if (workers.empty()) break;
        // Entries are freed only under joinLock_, so these stay valid.
        for (Entry* worker : workers) worker->Worker.join();
    }
}

bool CUpgradeManager::HasJobs() const {
    std::lock_guard lock(lock_);
    return !runningJobs_.empty() || !pending_.empty();
}

int CUpgradeManager::Running() const {
    std::lock_guard lock(lock_);
    return running_;
}

int CUpgradeManager::Waiting() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(pending_.size());
}

CUpgradeManager::Entry* CUpgradeManager::FindRunning(const std::string& deviceId) const {
    for (const EntryPtr& entry : runningJobs_) {
        if (entry->Job.DeviceId == deviceId) return entry.get();
    }
    return nullptr;
}

bool CUpgradeManager::HasJob(const std::string& deviceId) const {
    return FindRunning(deviceId) ||
           std::any_of(pending_.begin(), pending_.end(),
                       [&](const EntryPtr& e) { return e->Job.DeviceId == deviceId; });
}

void CUpgradeManager::Launch(EntryPtr entry) {
    Entry* started = entry.get();
    started->HoldsPlace = true;
    ++running_;
    runningJobs_.push_back(std::move(entry));
    started->Worker =
        std::jthread([this, started](std::stop_token stop) { WorkerMain(*started, stop); });
}

void CUpgradeManager::FreePlace(Entry& entry) {
    if (!entry.HoldsPlace) return;
    entry.HoldsPlace = false;
    --running_;
}

void CUpgradeManager::LaunchWhatMay(std::vector<Refusal>& refused) {
    if (stopping_) return;
    const int64_t now = clock_.UnixSeconds();
    // Every queued job is judged: a refusal ends a job at once even while the places
    // are taken (the guards' refusals do not change when it would start later).
    for (auto it = pending_.begin(); it != pending_.end();) {
        const BatchDecision decision = guard_.Decide((*it)->Candidate, now, rate_);
        if (decision.Verdict == BatchVerdict::Hold ||
            (decision.Verdict == BatchVerdict::Start && running_ >= kPlaces)) {
            ++it;
            continue;
        }
        EntryPtr next = std::move(*it);
        it = pending_.erase(it);
        if (decision.Verdict == BatchVerdict::Refuse) {
            Trace("upgrade of %s not started (%d)", next->Job.DeviceId.c_str(), decision.Code);
            ++deliveries_;
            refused.push_back({next->Job.DeviceId, decision.Code, guard_.Policy().WindowEnd});
            continue;
        }
        guard_.Started(next->Candidate);
        Launch(std::move(next));
    }
}

void CUpgradeManager::SendRefusals(const std::vector<Refusal>& refused) {
    if (refused.empty()) return;
    std::vector<IRegistryObserver*> observers;
    {
        std::lock_guard lock(lock_);
        observers = observers_;
    }
    for (const Refusal& r : refused) {
        Forward(observers, {r.DeviceId,
                            stage::kFinished,
                            0,
                            100,
                            r.Code,
                            {},
                            r.Code == rc::kPastWindow ? r.WindowEnd : 0});
        FinalDelivered();
    }
}

void CUpgradeManager::WorkerMain(Entry& entry, std::stop_token stop) {
    int code = rc::kFailed;
    try {
        code = runner_(entry.Job, clock_, stop);
    } catch (const std::exception& e) {
        Trace("upgrade worker of %s failed: %s", entry.Job.DeviceId.c_str(), e.what());
    }
    // Stopped while the device may be flashing or restarting: how it ended is not known.
    if (code == rc::kCancelled && stop.stop_requested() && entry.InFlight) {
        code = rc::kNotConfirmed;
    }
    Deliver({entry.Job.DeviceId, stage::kFinished, 0, 100, code, entry.Job.FirmwareAfter});
    entry.Exited = true;
}

void CUpgradeManager::NoteInFlight(Entry& entry, int stage) {
    if (entry.InFlight || (stage != stage::kRunning && stage != stage::kUploading)) return;
    entry.InFlight = true;
    if (!journal_) return;
    const UpgradeJob& job = entry.Job;
    const JobAddress at = job.Address();
    InFlightDevice device;
    device.Key = job.DeviceId;
    device.Origin = InFlightOrigin::Upgrade;
    device.DeviceId = job.DeviceId;
    device.Mac = job.Mac;
    device.Model = entry.Candidate.Model;
    device.Scheme = at.Scheme;
    device.Host = at.Host;
    device.Port = at.Port;
    device.Protocol = job.Protocol;
    if (!job.ServiceAddresses.empty()) device.ServiceAddress = job.ServiceAddresses.front();
    device.User = job.UserName;
    device.VersionBefore = job.FirmwareBefore;
    device.ImagesFromStore = job.ImagesFromStore != 0;
    device.ImagePath = entry.FrontImage;
    journal_->UploadBegins(std::move(device));
}

void CUpgradeManager::NoteLanded(const Entry& entry, int code) {
    if (!journal_ || !entry.InFlight || code == rc::kNotConfirmed) return;
    if (code == rc::kNotSeenAgain && lateWatch_) return;
    journal_->OutcomeRecorded(InFlightOrigin::Upgrade, entry.Job.DeviceId);
}

void CUpgradeManager::Forward(const std::vector<IRegistryObserver*>& observers,
                              const UpgradeReport& report) const {
    for (IRegistryObserver* observer : observers) {
        if (report.Stage == stage::kFinished) {
            observer->DeviceFinished(report);
        } else {
            observer->DeviceStatus(report.DeviceId, report.Stage, report.Seconds, report.Percent,
                                   report.Code);
        }
    }
}

void CUpgradeManager::FinalDelivered() { CountDown(deliveries_); }

void CUpgradeManager::CountDown(int& counter) {
    std::vector<IRegistryObserver*> observers;
    {
        std::lock_guard lock(lock_);
        --counter;
        if (!runOpen_ || dispatches_ != 0 || deliveries_ != 0 || !runningJobs_.empty() ||
            !pending_.empty()) {
            return;
        }
        runOpen_ = false;
        observers = observers_;
    }
    for (IRegistryObserver* observer : observers) observer->RunEnds();
}

void CUpgradeManager::ReapEnded() {
    std::vector<EntryPtr> done;
    std::lock_guard join(joinLock_);
    {
        std::lock_guard lock(lock_);
        auto exited = std::stable_partition(ended_.begin(), ended_.end(),
                                            [](const EntryPtr& e) { return !e->Exited; });
        std::move(exited, ended_.end(), std::back_inserter(done));
        ended_.erase(exited, ended_.end());
    }
    // Each thread has reported its end and is returning; joining takes a moment.
    done.clear();
}
