#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "device/registry_observer.h"
#include "device/upgrade_progress.h"
#include "pipeline/upgrade_job.h"
#include "upgrade/batch_guard.h"
#include "upgrade/in_flight_journal.h"
#include "upgrade/late_return_watch.h"
#include "upgrade/upgrade_manager_link.h"

// Runs the device upgrades of the program: at most 16 uploads at a time, each job on a
// worker thread of its own, the rest queued in the order they came; forwards every
// progress report to the observer pages and tells them when the run has ended.
//
// A job holds one of the 16 places from its start until its last upload ends (the
// pipeline says so, UploadEnded; a worker of a test's choosing by its stage-2 report)
// or, failing that, until its final report (stage 32); then the front job of the queue
// takes the place: a device that restarts holds no place while it is waited for. Each job ends with
// exactly one stage-32 report: the one its worker returns (or an earlier one it sent), never a
// second. The run ends, with one run-ends notification, once every job has sent its final report
// and no dispatch is under way.
//
// Each run is guarded by its BatchPolicy (BatchGuard): a job the guard holds waits in
// the queue, one it refuses ends at once with the guard's code and is never started.
// With the late watch on, a device that ended as not seen again (-10) is looked for a
// while longer; when it comes back with its new firmware, the observers get a second
// final report for it, with the success code rc::kReturnedLate, outside any run.
//
// A job is in flight from its worker's first report after the preparation (the upload,
// or the device readied for it): from then on the device may be flashing. The journal,
// when one is set, holds it until its final report has been forwarded (the late watch's
// devices until their watch ends). A stop ends a job in flight with -11 (not confirmed)
// rather than -6, and leaves it in the journal for the next start to look at.
//
// Observers are called on the reporting thread with no lock held. The observers and
// the camera controls must outlive the manager; stop the manager (Stop) before a
// camera control it uses goes, since waiting workers probe through it.
class CUpgradeManager final : public IUpgradeManager, public IJobHost {
public:
    static constexpr int kPlaces = 16;

    // The body of a job's worker thread: reports progress through job.Manager and
    // returns the job's final result code, which the manager reports as stage 32.
    // Ends early, with -6, once `stop` is requested.
    using JobRunner = std::function<int(UpgradeJob& job, const Clock& clock, std::stop_token stop)>;

    // `clock` times the workers' deliberate waits and must outlive the manager.
    explicit CUpgradeManager(const Clock& clock);
    // The same with a worker body of the caller's choosing (tests).
    CUpgradeManager(const Clock& clock, JobRunner runner);
    // Stops, then waits for every worker thread.
    ~CUpgradeManager() override;
    CUpgradeManager(const CUpgradeManager&) = delete;
    CUpgradeManager& operator=(const CUpgradeManager&) = delete;

    void AddObserver(IRegistryObserver& observer);
    void AddControl(IDeviceFinder& control);

    // IUpgradeManager. A queued job is reported as waiting (stage 0, 0 seconds). Once
    // the manager has stopped, a new job ends at once with -6.
    std::string StartJob(const JobRequest& request) override;
    void DeviceSeenAgain(const std::string& deviceId, const std::string& scheme,
                         const std::string& host, int port) override;
    void DispatchBegins() override;
    void DispatchEnds() override;
    // Taken by the next run when its first job comes.
    void SetBatchPolicy(const BatchPolicy& policy) override;

    // Where the jobs in flight are kept (CInFlightJournal); none by default. Call before
    // WatchLateReturns and the first job; it must outlive the manager.
    void SetJournal(const CInFlightJournal* journal) { journal_ = journal; }

    // Watches the devices that end with -10 for `watchMs` of the Clock after their end
    // (CLateReturnWatch). Call before the first job.
    void WatchLateReturns(int64_t watchMs);
    // Devices the late watch still looks for.
    int LateWatching() const;

    // A worker's upload of `bytes` succeeded in `ms` of the Clock: the run's rate, which
    // estimates whether later devices fit the window.
    void UploadTimed(int64_t bytes, int64_t ms) override;

    // A worker's progress report, made on the job's worker thread; ignored for a device
    // without a running job. A place freed by the report passes to the front of the
    // queue once the report has been forwarded.
    void Report(const std::string& deviceId, int stage, int seconds, int percent,
                int code) override;

    // The device must be found again: every camera control unlists it, and its job
    // forgets that it was seen.
    void ForgetDevice(const std::string& deviceId) override;

    // Asks every camera control whether the device has reported itself again; those
    // that find it call DeviceSeenAgain.
    void ProbeDevice(const std::string& deviceId) override;

    // The job's upload ended: once its last one has, its place passes on while it waits
    // for its device.
    void UploadEnded(const std::string& deviceId, int code) override;

    // Ends every job: queued ones at once, running ones as soon as their workers notice
    // (each with its final report, -6 unless it had already ended), and waits for the
    // workers. Later jobs end at once. The late watch ends too.
    void Stop();

    // A job runs (also one past its upload, waiting for its device) or waits for a place.
    bool HasJobs() const;

    // Places held now, and jobs waiting for one.
    int Running() const;
    int Waiting() const;

private:
    struct Entry {
        UpgradeJob Job;
        BatchCandidate Candidate;  // what the run's guard judges
        std::jthread Worker;
        int Uploads = 1;           // the uploads the job makes; the last one frees its place
        int UploadsEnded = 0;      // told by the pipeline
        int UploadEndReports = 0;  // stage-2 reports (a worker of a test's choosing)
        bool HoldsPlace = false;
        std::atomic<bool> Exited{false};
        std::string FrontImage;             // as queued; the upload thread takes it off
        std::atomic<bool> InFlight{false};  // past its preparation
    };
    using EntryPtr = std::unique_ptr<Entry>;

    // Called under lock_.
    Entry* FindRunning(const std::string& deviceId) const;
    bool HasJob(const std::string& deviceId) const;
    void Launch(EntryPtr entry);
    // Gives up the entry's place, if it holds one.
    void FreePlace(Entry& entry);
    // A job the guard refused: it ends at once with the code.
    struct Refusal {
        std::string DeviceId;
        int Code = 0;
        int64_t WindowEnd = 0;
    };
    // Starts the queued jobs, in order, that the guard lets start while places are free;
    // takes out those it refuses (counted as deliveries), for SendRefusals.
    void LaunchWhatMay(std::vector<Refusal>& refused);
    // Called with no lock held.
    void SendRefusals(const std::vector<Refusal>& refused);
    // The late watch found the device back with `version`.
    void ReturnedLate(const std::string& deviceId, const std::string& version);

    void WorkerMain(Entry& entry, std::stop_token stop);
    // The worker's report of `stage`, the first after its preparation, puts the job in
    // flight.
    void NoteInFlight(Entry& entry, int stage);
    // A final report has been forwarded: the job is no longer in flight unless it ended
    // unconfirmed or the late watch took it.
    void NoteLanded(const Entry& entry, int code);
    // Report's work; a final report's firmware version goes to the camera controls first.
    void Deliver(const UpgradeReport& report);
    void Forward(const std::vector<IRegistryObserver*>& observers,
                 const UpgradeReport& report) const;
    // A final report has been forwarded: sends run-ends when it was the run's last.
    void FinalDelivered();
    // Decrements `counter` (dispatches_ or deliveries_) and sends run-ends when that
    // leaves nothing of the run open.
    void CountDown(int& counter);
    // Joins and frees the workers that have ended.
    void ReapEnded();

    const Clock& clock_;
    const JobRunner runner_;

    mutable std::mutex lock_;
    int running_ = 0;                  // places held
    std::list<EntryPtr> runningJobs_;  // started, final report not yet sent
    std::deque<EntryPtr> pending_;     // waiting for a place
    std::vector<EntryPtr> ended_;      // final report sent; the thread may still run
    std::vector<IRegistryObserver*> observers_;
    std::vector<IDeviceFinder*> controls_;
    int dispatches_ = 0;    // dispatches under way
    int deliveries_ = 0;    // final reports being forwarded
    bool runOpen_ = false;  // a job has started since the last run-ends
    bool stopping_ = false;
    BatchPolicy nextPolicy_;                       // the next run's
    BatchGuard guard_;                             // the run's
    UploadRate rate_;                              // measured in the run
    std::unique_ptr<CLateReturnWatch> lateWatch_;  // set before any job; then only read
    const CInFlightJournal* journal_ = nullptr;    // likewise

    std::mutex joinLock_;  // one thread at a time joins and frees ended workers
};
