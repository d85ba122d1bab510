#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "firmware/download_job.h"
#include "firmware/firmware_view.h"
#include "firmware/host_probes.h"
#include "web/download_item.h"
#include "web/server_proxy.h"

class CDownloadCoordinator;

// Downloads the images of whole series into the store in the background: a queue of
// jobs (one per series) worked by at most kMaxRunningJobs workers, each job image after
// image, with resume of partial files, an MD5 check of every image, a retry every 5 s
// (through the Clock) after a failure until it succeeds or the series is cancelled, and
// progress with the time left.
//
// The manager's lock guards the queue, the running jobs and the completed paths; views
// and the coordinator are never called with it held. Views get OnDownloadStatus (see
// download_status.h) and OnAllDownloadsFinished on the worker threads.
class CDownloadManager : private IDownloadProgressReceiver {
public:
    static constexpr int kMaxRunningJobs = 5;

    // `clock` paces the retry waits; `freeSpace` tells the storage folder's free space.
    explicit CDownloadManager(const Clock& clock, FreeSpaceProbe freeSpace = AvailableBytes);
    // Cancels whatever still runs or waits and joins the workers. A running job still
    // reports kind 4 to the views on its way out, so views (and the coordinator) must
    // outlive the manager; the program destroys it once HasActiveJobs() is false.
    ~CDownloadManager() override;
    CDownloadManager(const CDownloadManager&) = delete;
    CDownloadManager& operator=(const CDownloadManager&) = delete;

    void AddListener(CFirmwareView* view);
    // The coordinator learns of every stored image (kind 1). Unsetting it (null) waits
    // until a call to it in progress has returned.
    void SetCoordinator(CDownloadCoordinator* coordinator);
    // The program's offline state (no network at start-up, not yet back): stops then
    // show each series' status from the store.
    void SetOffline(bool offline);
    // The proxy for the downloads started from now on (none by default: the environment's).
    void SetServerProxy(ServerProxy proxy);

    // Adds one image. False when `localPath` was completed in this run. True otherwise:
    // while a job of the series runs, nothing is added (that job covers the series); a
    // waiting job of the series takes the image unless it already has that path;
    // otherwise a new job for the series joins the queue.
    bool Enqueue(const std::string& series, const std::string& model, const std::string& hwVer,
                 const std::string& fwVer, const std::string& url, const std::string& localPath,
                 const std::string& md5, int64_t size, int64_t totalBytes);
    // Starts waiting jobs while fewer than kMaxRunningJobs run.
    void StartPending();
    // Removes the series' waiting job (kind 4 at once) and cancels its running job
    // (kind 4 when its worker stops).
    void StopSeries(const std::string& series);
    // The same for every series.
    void StopAll();
    bool IsSeriesIdle(const std::string& series) const;
    bool HasActiveJobs() const;
    // A job waits or runs.
    bool HasWork() const;

    // An image found stored and sound is not queued again in this run.
    void AddCompletedPath(const std::string& path);

private:
    void OnDownloadProgress(const DownloadProgress& progress) override;
    void ReportFailure(const CDownloadJob& job, const CDownloadItem& item, int result, int attempt,
                       bool retrying) const;
    void ReportStatus(const std::string& series, const std::string& model, const std::string& hwVer,
                      const std::string& fwVer, const std::string& localPath, int kind, int a,
                      int b);
    void StartPendingLocked();
    void WorkerLoop(std::stop_token stop);
    void RunJob(CDownloadJob& job);
    int DownloadOnce(CDownloadJob& job, CDownloadItem& item, size_t index);
    bool WaitBeforeRetry(const CDownloadJob& job) const;
    enum class Claim { Mine, Stored, Cancelled };
    Claim ClaimPath(const CDownloadJob& job, const std::string& path);
    void ReleasePath(const std::string& path);
    void SendStatus(const std::string& series, int kind) const;
    void SendOfflineStatus(const std::string& series) const;
    std::vector<CFirmwareView*> Views() const;

    const Clock& clock_;
    const FreeSpaceProbe freeSpace_;
    std::atomic<bool> offline_{false};

    mutable std::mutex mutex_;  // guards everything below up to the workers
    std::condition_variable_any handed_;
    int running_ = 0;
    std::vector<CDownloadJob*> active_;                   // started, owned by a worker
    std::deque<std::unique_ptr<CDownloadJob>> starting_;  // started, no worker yet
    std::deque<std::unique_ptr<CDownloadJob>> queue_;     // waiting
    std::vector<std::string> completed_;
    // Files being downloaded: two series naming one image must not write it at once.
    std::vector<std::string> claimed_;
    std::condition_variable_any released_;
    std::vector<CFirmwareView*> listeners_;
    ServerProxy proxy_;

    // Held while the coordinator is called, so that unsetting it waits for a call in
    // progress; never taken with mutex_ held.
    mutable std::mutex coordinatorMutex_;
    CDownloadCoordinator* coordinator_ = nullptr;

    std::vector<std::jthread> workers_;
};
