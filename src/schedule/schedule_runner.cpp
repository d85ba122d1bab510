#include "schedule/schedule_runner.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "device/upgrade_progress.h"
#include "history/history_file.h"
#include "history/upgrade_history.h"
#include "schedule/entry_device.h"
#include "schedule/schedule_file.h"
#include "schedule/scheduled_run_record.h"
#include "schedule/scheduled_run_steps.h"
#include "schedule/scheduled_upgrade.h"
#include "upgrade/in_flight_review.h"

CScheduleRunner::CScheduleRunner(CScheduleList& list, const Clock& clock,
                                 IScheduleObserver& observer, std::string schedulePath,
                                 FileExists fileExists, UnixTimeSource now)
    : list_(list),
      clock_(clock),
      observer_(observer),
      fileExists_(std::move(fileExists)),
      now_(now ? std::move(now) : UnixTimeSource([&clock] { return clock.UnixSeconds(); })),
      sync_(std::move(schedulePath)) {}

CScheduleRunner::~CScheduleRunner() { Stop(); }

void CScheduleRunner::SetNoticeHandler(std::function<void(const std::string&)> notice) {
    notice_ = std::move(notice);
}

void CScheduleRunner::SetHistoryProblemHandler(HistoryProblem problem) {
    historyProblem_ = std::move(problem);
}

void CScheduleRunner::AdoptList() {
    std::lock_guard lock(saveMutex_);
    if (!adopted_) sync_.Adopt(list_);
    adopted_ = true;
}

int CScheduleRunner::Start(std::string* error) {
    if (ticker_.joinable()) return rc::kOk;
    bool first = false;
    {
        std::lock_guard lock(saveMutex_);
        // Once only: a refused start must still save and merge without taking the
        // file's entries for new ones, and a later start keeps what the merges learnt.
        first = !adopted_;
        if (first) sync_.Adopt(list_);
        adopted_ = true;
        if (!sync_.AcquireSchedulerLock()) {
            if (error) *error = "another scheduler is running " + sync_.Path();
            return kScheduleRunElsewhere;
        }
    }
    if (!SyncFile(false, error, !first)) {
        std::lock_guard lock(saveMutex_);
        sync_.ReleaseSchedulerLock();
        return rc::kFailed;
    }
    if (FailInterrupted()) Save();
    if (journal_ && !review_.joinable()) review_ = std::jthread([this] { ReviewLeftRuns(); });
    ticker_ = std::jthread([this](std::stop_token stop) {
        while (clock_.SleepMs(kScheduleTickMs, stop)) Tick();
    });
    return rc::kOk;
}

void CScheduleRunner::Stop() {
    // The ticks first, so that no worker starts while the workers are stopped.
    if (ticker_.joinable()) {
        ticker_.request_stop();
        ticker_.join();
    }
    if (lateWatch_) lateWatch_->Stop();
    // Runs still waiting for their batch's guard never touched their devices.
    std::vector<CScheduledRun> waiting = batches_.TakeWaiting();
    for (CScheduledRun& run : waiting) {
        const uint64_t id = run.Id();
        observer_.EntryFinished(id, run.Finish(schedule_status::kQueued));
    }
    workers_.JoinAll(true);
    if (review_.joinable()) review_.join();
    if (!waiting.empty()) Save();
    std::lock_guard save(saveMutex_);
    sync_.ReleaseSchedulerLock();
}

void CScheduleRunner::Tick() {
    workers_.Reap();
    SyncFile(false);
    const bool interrupted = FailInterrupted();
    const std::vector<uint64_t> changed = SchedulerTick(list_, now_(), fileExists_);
    for (uint64_t id : changed) Report(id);
    std::vector<CScheduledRun> runs = StarterTick(list_);
    // Saved before the workers start: a run the program does not live to finish stays
    // "Upgrading" in the file and is not started again.
    if (interrupted || !changed.empty() || !runs.empty()) Save();
    if (!runs.empty() && policySource_) batches_.SetPolicy(policySource_());
    for (CScheduledRun& run : runs) {
        Report(run.Id());
        batches_.Add(std::move(run));
    }
    ReleaseBatches();
}

void CScheduleRunner::ReleaseBatches() {
    std::vector<CScheduledRun> start;
    std::vector<CScheduledBatches::Refused> refused;
    batches_.Release(clock_, rate_, start, refused);
    for (CScheduledBatches::Refused& r : refused) {
        r.Run.SetResult(r.Code);
        const uint64_t id = r.Run.Id();
        EntryFinished(id, r.Run.Finish(schedule_status::kOtherFailed));
    }
    for (CScheduledRun& run : start) {
        Report(run.Id());
        StartWorker(std::move(run));
    }
}

void CScheduleRunner::WatchLateReturns(int64_t watchMs) {
    lateWatch_ = std::make_unique<CLateReturnWatch>(
        clock_, watchMs,
        [this](const std::string& mac, const std::string& version) { ReturnedLate(mac, version); },
        journal_);
}

int CScheduleRunner::LateWatching() const { return lateWatch_ ? lateWatch_->Watching() : 0; }

void CScheduleRunner::ReturnedLate(const std::string& mac, const std::string& version) {
    const std::optional<uint64_t> id = list_.FindByMac(mac);
    std::optional<ScheduleEntry> entry = id ? list_.Find(*id) : std::nullopt;
    // Run again, or edited, meanwhile: that speaks for the device now.
    if (!entry || entry->Running || entry->Info.Status != schedule_status::kOtherFailed ||
        entry->Info.Result != rc::kNotSeenAgain) {
        return;
    }
    CScheduleInfo back = entry->Info;
    back.Status = schedule_status::kSuccessful;
    back.Result = 0;
    if (!version.empty()) back.VersionAfter = version;
    if (!list_.Replace(*id, back)) return;
    Trace("schedule %s: the device came back late with %s\n", mac.c_str(), version.c_str());
    Save();
    Report(*id);
    std::optional<UpgradeHistoryRecord> record = ScheduledRunRecord(back, WallClockNow());
    if (!record) return;
    record->Code = rc::kReturnedLate;
    record->ResultText = StatusCellText(stage::kFinished, 0, 100, rc::kReturnedLate, DefaultText);
    AppendRecord(mac, *record);
}

bool CScheduleRunner::Save(std::string* error) { return SyncFile(true, error); }

bool CScheduleRunner::Refresh() { return SyncFile(false); }

bool CScheduleRunner::SyncFile(bool write, std::string* error, bool report) {
    CScheduleFileSync::Result result;
    {
        std::lock_guard lock(saveMutex_);
        result = sync_.Sync(list_, write);
    }
    if (report) {
        for (uint64_t id : result.Changed) Report(id);
    }
    if (!result.Backup.empty() && notice_) notice_(BackupNotice(result.Backup));
    if (result.Ok) return true;
    Trace("schedule: %s\n", result.Error.c_str());
    if (error) *error = result.Error;
    return false;
}

bool CScheduleRunner::FailInterrupted() {
    const std::vector<uint64_t> failed = list_.FailInterrupted();
    for (uint64_t id : failed) {
        if (std::optional<ScheduleEntry> entry = list_.Find(id)) {
            Trace(
                "schedule: the upgrade of %s at %s was interrupted (no scheduler ran it); it "
                "ends as failed\n",
                entry->Info.MAC.c_str(), entry->Info.IP.c_str());
            // Its own run never lived to say how it ended: this is its outcome.
            AddToHistory(entry->Info);
        }
        Report(id);
    }
    return !failed.empty();
}

void CScheduleRunner::StartWorker(CScheduledRun run) {
    auto held = std::make_shared<CScheduledRun>(std::move(run));
    const bool started = workers_.Start([this, held](std::stop_token stop) {
        RunScheduledUpgrade(std::move(*held), clock_, *this, stop, &rate_, locator_);
    });
    // Without a thread the device was never touched: the entry fails as one that could
    // not start.
    if (!started) EntryFinished(held->Id(), held->Finish(schedule_status::kOtherFailed));
}

void CScheduleRunner::Report(uint64_t id) {
    if (std::optional<ScheduleEntry> entry = list_.Find(id))
        observer_.EntryProgress(id, entry->Info);
}

void CScheduleRunner::EntryProgress(uint64_t id, const CScheduleInfo& entry) {
    NoteProgress(id, entry);
    observer_.EntryProgress(id, entry);
}

void CScheduleRunner::EntryFinished(uint64_t id, const CScheduleInfo& entry) {
    const int code = ScheduledResultCode(entry);
    batches_.Ended(entry, code);
    Save();
    observer_.EntryFinished(id, entry);
    if (code == rc::kNotSeenAgain && lateWatch_) {
        UpgradeJob job;
        FillScheduledJob(entry, job);
        lateWatch_->Watch(job);
    }
    // After the report: the image's MD5 and the disk flush must not hold it up.
    AddToHistory(entry);
    NoteFinished(id, entry);
}

void CScheduleRunner::NoteProgress(uint64_t id, const CScheduleInfo& entry) {
    if (!journal_ || entry.Status != schedule_status::kUploading) return;
    {
        std::lock_guard lock(inFlightMutex_);
        if (!inFlight_.insert(id).second) return;
    }
    InFlightDevice device;
    device.Key = ToUpperAscii(entry.MAC);
    device.Origin = InFlightOrigin::Schedule;
    device.Mac = entry.MAC;
    device.DeviceName = entry.Device;
    device.Model = entry.Model;
    device.Scheme = entry.Https ? "https" : "http";
    device.Host = entry.IP;
    device.Port = static_cast<int>(ParseDecimal(entry.Port));
    const CIPCamInfo named = EntryDevice(entry);
    device.Protocol = named.Protocol;
    if (!named.ServiceAddresses.empty()) device.ServiceAddress = named.ServiceAddresses.front();
    device.User = entry.Account;
    device.VersionBefore = entry.VersionBefore.empty() ? entry.Version : entry.VersionBefore;
    device.ImagePath = entry.FWPath;
    journal_->UploadBegins(std::move(device));
}

void CScheduleRunner::NoteFinished(uint64_t id, const CScheduleInfo& entry) {
    {
        std::lock_guard lock(inFlightMutex_);
        if (inFlight_.erase(id) == 0) return;
    }
    // A stop left the device's outcome unknown ("Upgrading"): the next start tells.
    if (entry.Status == schedule_status::kUpgrading) return;
    journal_->OutcomeRecorded(InFlightOrigin::Schedule, ToUpperAscii(entry.MAC));
}

void CScheduleRunner::ReviewLeftRuns() {
    // Each device logs in with its entry's credentials, as they are now.
    std::vector<CScheduleInfo> entries;
    for (const ScheduleEntry& e : list_.Entries()) entries.push_back(e.Info);
    ReviewInFlight(*journal_, InFlightOrigin::Schedule, DefaultHistoryFile(),
                   [&entries](const InFlightDevice& device) {
                       for (const CScheduleInfo& e : entries) {
                           if (EqualsNoCase(Trim(e.MAC), Trim(device.Mac))) return e.Password;
                       }
                       return std::string();
                   });
}

void CScheduleRunner::AddToHistory(const CScheduleInfo& entry) {
    std::optional<UpgradeHistoryRecord> record = ScheduledRunRecord(entry, WallClockNow());
    if (record) AppendRecord(entry.MAC, *record);
}

void CScheduleRunner::AppendRecord(const std::string& mac, const UpgradeHistoryRecord& record) {
    const std::string history = DefaultHistoryFile();
    if (std::string reason; AppendHistory(history, record, &reason) != rc::kOk) {
        Trace("schedule %s: cannot add the run to the history %s: %s", mac.c_str(), history.c_str(),
              reason.c_str());
        if (historyProblem_) historyProblem_(history, reason);
    }
}

bool ScheduleHasWork(const CScheduleList& list) {
    for (const ScheduleEntry& e : list.Entries()) {
        if (e.Running || e.Info.Status == schedule_status::kWaiting ||
            e.Info.Status == schedule_status::kQueued) {
            return true;
        }
    }
    return list.RunningCount() > 0;
}
