#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "base/clock.h"
#include "base/thread_group.h"
#include "history/history_file.h"
#include "history/history_record.h"
#include "pipeline/return_watch.h"
#include "schedule/schedule_list.h"
#include "schedule/schedule_observer.h"
#include "schedule/schedule_store.h"
#include "schedule/scheduled_batches.h"
#include "schedule/scheduler.h"
#include "upgrade/batch_guard.h"
#include "upgrade/in_flight_journal.h"
#include "upgrade/late_return_watch.h"

// The scheduler tick and the starter tick run every this many Clock milliseconds.
constexpr int64_t kScheduleTickMs = 1000;
// Start's result when another scheduler, in this process or another, runs the file.
constexpr int kScheduleRunElsewhere = -23;

// The current time for the scheduler tick, seconds since 1970.
using UnixTimeSource = std::function<int64_t()>;

// Runs a schedule: every second of the Clock the scheduler tick (its "now" read from the
// time source at every tick: Clock::UnixSeconds unless one is given) and then the starter
// tick, one worker thread (RunScheduledUpgrade) per started entry, and the schedule file
// saved after every tick that changed an entry and after every run's end, before that
// end is reported. Every change goes to `observer`, from the tick thread or a worker's
// thread (see IScheduleObserver). The list, the Clock and the observer must outlive the
// runner. Destroying the runner stops it.
//
// The file is shared with other processes (see schedule_store.h): while it runs, the
// runner holds the file's scheduler lock, takes into the list at every tick and every
// save what other processes added, removed or changed in the file, and never writes
// over those changes.
class CScheduleRunner : private IScheduleObserver {
public:
    CScheduleRunner(CScheduleList& list, const Clock& clock, IScheduleObserver& observer,
                    std::string schedulePath, FileExists fileExists, UnixTimeSource now = {});
    ~CScheduleRunner() override;
    CScheduleRunner(const CScheduleRunner&) = delete;
    CScheduleRunner& operator=(const CScheduleRunner&) = delete;

    // Takes the scheduler lock, merges the file into the list (the list's entries are
    // taken as what the file held when they were loaded; an empty list takes the whole
    // file), ends interrupted entries as failed (see CScheduleList::FailInterrupted) and
    // starts the ticks; the first comes one tick period later. 0 when running;
    // kScheduleRunElsewhere when another scheduler runs the file, -1 when the file cannot
    // be used; either way with `error` set and nothing started. Save and Refresh still
    // work then, and Start may be tried again later.
    int Start(std::string* error = nullptr);

    // Takes the list's entries as what the file held when they were loaded, as Start
    // does when it comes first. For a Start made later on another thread: call it before
    // the list changes.
    void AdoptList();

    // Where notices for the user go (a backup of the old file was kept); they are
    // traced as well. Set before Start.
    void SetNoticeHandler(std::function<void(const std::string&)> notice);

    // Where a device that does not answer at its entry's address after its image is
    // looked for (a camera control, which searches for it); none by default. Set before
    // Start; must outlive the runner.
    void SetDeviceLocator(IDeviceLocator* locator) { locator_ = locator; }

    // Where the runs in flight are kept: from the start of their upload to their end, or
    // past a stop that left the device's outcome unknown. At Start, once interrupted
    // entries have ended (as not confirmed), the scheduled devices that runs of ended
    // processes left there are looked at once on a thread of the runner's, with their
    // entries' log-in, and the history amended (ReviewInFlight). None by default. Set
    // before Start; must outlive the runner.
    void SetJournal(const CInFlightJournal* journal) { journal_ = journal; }

    // Where it is told that a run's outcome could not be kept in the upgrade history.
    // Set before Start.
    void SetHistoryProblemHandler(HistoryProblem problem);

    // The guards of the entries due in the same minute, which form one batch: one device
    // of each model first, a limit of failed devices (a run refused by them ends as
    // status 8 with the guard's code). Each entry keeps its own window. Set before Start;
    // The policy is read when a batch begins (the Setting page may change it meanwhile).
    void SetBatchPolicySource(std::function<BatchPolicy()> source) {
        policySource_ = std::move(source);
    }

    // A device whose run ended as not seen again (-10) is looked for `watchMs` of the
    // Clock longer (CLateReturnWatch); back with its new firmware, its entry ends
    // successful after all and the history gets the late return. Set before Start.
    void WatchLateReturns(int64_t watchMs);
    // Devices the late watch still looks for.
    int LateWatching() const;

    // Stops the ticks and every worker and waits for them: the waits end at once, an
    // upload in flight is waited for. Stopped runs end as IScheduleObserver describes
    // and are saved. The runner may be started again. The observer must not wait for the
    // thread that calls Stop (a page hands the reports over; it does not block on them).
    void Stop();

    // Writes the whole list to the schedule file (after an edit or a delete, too), after
    // merging the other processes' changes. Safe from any thread; saves never
    // interleave, and a later save always holds the later state. False, with `error`
    // telling why, when the file could not be written (or is not one this program may
    // replace).
    bool Save(std::string* error = nullptr);

    // Takes into the list what other processes changed in the file, reporting each
    // changed entry; for a runner whose start was refused, to follow the scheduler that
    // runs the file. False when the file could not be read.
    bool Refresh();

private:
    IDeviceLocator* locator_ = nullptr;
    // One scheduler tick and one starter tick, on the tick thread.
    void Tick();
    void StartWorker(CScheduledRun run);
    void Report(uint64_t id);
    // Merges (and writes, when `write`) under the save lock; reports merged entries
    // when `report` (the first load of the file is no change).
    bool SyncFile(bool write, std::string* error = nullptr, bool report = true);
    // Ends the entries no run holds that the file says are running, and keeps each
    // outcome in the upgrade history; true when any.
    bool FailInterrupted();
    // The history line of an ended run; nothing for a run a shut-down stopped.
    void AddToHistory(const CScheduleInfo& entry);
    // Starts the runs the batches' guards let start, and ends the ones they refuse.
    void ReleaseBatches();
    // The late watch found the entry's device back with `version`.
    void ReturnedLate(const std::string& mac, const std::string& version);
    void AppendRecord(const std::string& mac, const UpgradeHistoryRecord& record);

    // The journal follows the runs: in flight from their upload on.
    void NoteProgress(uint64_t id, const CScheduleInfo& entry);
    void NoteFinished(uint64_t id, const CScheduleInfo& entry);
    void ReviewLeftRuns();

    void EntryProgress(uint64_t id, const CScheduleInfo& entry) override;
    void EntryFinished(uint64_t id, const CScheduleInfo& entry) override;

    CScheduleList& list_;
    const Clock& clock_;
    IScheduleObserver& observer_;
    const FileExists fileExists_;
    const UnixTimeSource now_;
    std::function<void(const std::string&)> notice_;
    HistoryProblem historyProblem_;
    std::mutex saveMutex_;  // guards sync_ and adopted_
    bool adopted_ = false;  // the list's entries were taken as the file's
    CScheduleFileSync sync_;
    ThreadGroup workers_;  // a thread a started entry
    UploadRate rate_;      // of the runs' uploads, for the windows of later ones
    CScheduledBatches batches_;
    std::function<BatchPolicy()> policySource_;
    std::unique_ptr<CLateReturnWatch> lateWatch_;  // set before Start; then only read
    const CInFlightJournal* journal_ = nullptr;
    std::mutex inFlightMutex_;
    std::set<uint64_t> inFlight_;  // runs past the start of their upload
    std::jthread review_;
    std::jthread ticker_;
};

// True while the list has work for a runner: an entry waiting for its time, queued, or
// being run.
bool ScheduleHasWork(const CScheduleList& list);
