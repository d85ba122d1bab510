#include "schedule/schedule_runner.h"

#include "base/result_codes.h"
#include "base/trace.h"
#include "history/history_file.h"
#include "history/upgrade_history.h"
#include "schedule/schedule_file.h"
#include "schedule/scheduled_run_record.h"
#include "schedule/scheduled_upgrade.h"

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
    std::lock_guard lock(workersMutex_);
    for (Worker& worker : workers_) worker.Thread.request_stop();
    workers_.clear();  // joins each
    std::lock_guard save(saveMutex_);
    sync_.ReleaseSchedulerLock();
}

void CScheduleRunner::Tick() {
    JoinFinishedWorkers();
    SyncFile(false);
    const bool interrupted = FailInterrupted();
    const std::vector<uint64_t> changed = SchedulerTick(list_, now_(), fileExists_);
    for (uint64_t id : changed) Report(id);
    std::vector<CScheduledRun> runs = StarterTick(list_);
    // Saved before the workers start: a run the program does not live to finish stays
    // "Upgrading" in the file and is not started again.
    if (interrupted || !changed.empty() || !runs.empty()) Save();
    for (CScheduledRun& run : runs) {
        Report(run.Id());
        StartWorker(std::move(run));
    }
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
    std::lock_guard lock(workersMutex_);
    Worker& worker = workers_.emplace_back();
    worker.Thread =
        std::jthread([this, &worker, run = std::move(run)](std::stop_token stop) mutable {
            RunScheduledUpgrade(std::move(run), clock_, *this, stop, &rate_, locator_);
            worker.Done = true;
        });
}

void CScheduleRunner::JoinFinishedWorkers() {
    std::lock_guard lock(workersMutex_);
    workers_.remove_if([](const Worker& worker) { return worker.Done.load(); });
}

void CScheduleRunner::Report(uint64_t id) {
    if (std::optional<ScheduleEntry> entry = list_.Find(id))
        observer_.EntryProgress(id, entry->Info);
}

void CScheduleRunner::EntryProgress(uint64_t id, const CScheduleInfo& entry) {
    observer_.EntryProgress(id, entry);
}

void CScheduleRunner::EntryFinished(uint64_t id, const CScheduleInfo& entry) {
    Save();
    observer_.EntryFinished(id, entry);
    // After the report: the image's MD5 and the disk flush must not hold it up.
    AddToHistory(entry);
}

void CScheduleRunner::AddToHistory(const CScheduleInfo& entry) {
    std::optional<UpgradeHistoryRecord> record = ScheduledRunRecord(entry, WallClockNow());
    if (!record) return;
    const std::string history = DefaultHistoryFile();
    if (std::string reason; AppendHistory(history, *record, &reason) != rc::kOk) {
        Trace("schedule %s: cannot add the run to the history %s: %s", entry.MAC.c_str(),
              history.c_str(), reason.c_str());
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
