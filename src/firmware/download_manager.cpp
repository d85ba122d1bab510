#include "firmware/download_manager.h"

#include <algorithm>

#include "base/trace.h"
#include "firmware/download_coordinator.h"
#include "firmware/download_status.h"
#include "firmware/firmware_catalog.h"

CDownloadManager::CDownloadManager(const Clock& clock, FreeSpaceProbe freeSpace)
    : clock_(clock), freeSpace_(std::move(freeSpace)) {
    for (int i = 0; i < kMaxRunningJobs; ++i) {
        workers_.emplace_back([this](std::stop_token stop) { WorkerLoop(stop); });
    }
}

CDownloadManager::~CDownloadManager() {
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        for (CDownloadJob* job : active_) {
            job->Cancelled = true;
            for (CDownloadItem& item : job->Items) item.Cancelled = true;
        }
    }
    // Joins: each worker finishes its cancelled job and then sees the stop.
    workers_.clear();
}

void CDownloadManager::AddListener(CFirmwareView* view) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(view);
}

void CDownloadManager::SetCoordinator(CDownloadCoordinator* coordinator) {
    std::lock_guard lock(coordinatorMutex_);
    coordinator_ = coordinator;
}

void CDownloadManager::SetOffline(bool offline) { offline_ = offline; }

void CDownloadManager::SetServerProxy(ServerProxy proxy) {
    std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}

std::vector<CFirmwareView*> CDownloadManager::Views() const {
    std::lock_guard lock(mutex_);
    return listeners_;
}

bool CDownloadManager::Enqueue(const std::string& series, const std::string& model,
                               const std::string& hwVer, const std::string& fwVer,
                               const std::string& url, const std::string& localPath,
                               const std::string& md5, int64_t size, int64_t totalBytes) {
    std::lock_guard lock(mutex_);
    if (std::find(completed_.begin(), completed_.end(), localPath) != completed_.end()) {
        return false;
    }
    for (const CDownloadJob* job : active_) {
        if (job->Series == series) return true;
    }
    CDownloadItem item;
    item.Model = model;
    item.HWVer = hwVer;
    item.FWVer = fwVer;
    item.LocalPath = localPath;
    item.URL = url;
    item.MD5 = md5;
    item.Size = size;
    for (const auto& job : queue_) {
        if (job->Series != series) continue;
        const bool held =
            std::any_of(job->Items.begin(), job->Items.end(),
                        [&](const CDownloadItem& i) { return i.LocalPath == localPath; });
        if (!held) job->Items.push_back(std::move(item));
        return true;
    }
    auto job = std::make_unique<CDownloadJob>();
    job->Series = series;
    job->Items.push_back(std::move(item));
    job->TotalBytes = totalBytes;
    queue_.push_back(std::move(job));
    return true;
}

void CDownloadManager::StartPending() {
    std::lock_guard lock(mutex_);
    StartPendingLocked();
}

void CDownloadManager::StartPendingLocked() {
    while (running_ < kMaxRunningJobs && !queue_.empty()) {
        ++running_;
        active_.push_back(queue_.front().get());
        starting_.push_back(std::move(queue_.front()));
        queue_.pop_front();
        handed_.notify_one();
    }
}

void CDownloadManager::WorkerLoop(std::stop_token stop) {
    for (;;) {
        std::unique_ptr<CDownloadJob> job;
        {
            std::unique_lock lock(mutex_);
            if (!handed_.wait(lock, stop, [this] { return !starting_.empty(); })) return;
            job = std::move(starting_.front());
            starting_.pop_front();
        }
        RunJob(*job);
    }
}

void CDownloadManager::StopSeries(const std::string& series) {
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        removed = std::erase_if(queue_, [&](const auto& job) { return job->Series == series; }) > 0;
        for (CDownloadJob* job : active_) {
            if (job->Series != series) continue;
            job->Cancelled = true;
            for (CDownloadItem& item : job->Items) item.Cancelled = true;
        }
    }
    if (removed) SendStatus(series, download_kind::kStopped);
    if (offline_) SendOfflineStatus(series);
}

void CDownloadManager::StopAll() {
    std::vector<std::string> removed;
    {
        std::lock_guard lock(mutex_);
        for (const auto& job : queue_) removed.push_back(job->Series);
        queue_.clear();
        for (CDownloadJob* job : active_) {
            job->Cancelled = true;
            for (CDownloadItem& item : job->Items) item.Cancelled = true;
        }
    }
    for (const std::string& series : removed) SendStatus(series, download_kind::kStopped);
    if (offline_) {
        for (CFirmwareView* view : Views()) view->RefreshSeriesStatuses();
    }
}

bool CDownloadManager::IsSeriesIdle(const std::string& series) const {
    std::lock_guard lock(mutex_);
    return std::none_of(active_.begin(), active_.end(),
                        [&](const CDownloadJob* job) { return job->Series == series; });
}

bool CDownloadManager::HasActiveJobs() const {
    std::lock_guard lock(mutex_);
    return !active_.empty();
}

bool CDownloadManager::HasWork() const {
    std::lock_guard lock(mutex_);
    return !active_.empty() || !queue_.empty();
}

void CDownloadManager::AddCompletedPath(const std::string& path) {
    std::lock_guard lock(mutex_);
    completed_.push_back(path);
}

void CDownloadManager::SendStatus(const std::string& series, int kind) const {
    for (CFirmwareView* view : Views()) view->OnDownloadStatus(series, kind, 0, 100);
}

void CDownloadManager::SendOfflineStatus(const std::string& series) const {
    bool stored;
    {
        std::lock_guard lock(coordinatorMutex_);
        if (!coordinator_) return;
        stored = coordinator_->Catalog().AllImagesStored(series);
    }
    SendStatus(series, stored ? download_kind::kFinished : download_kind::kStopped);
}

void CDownloadManager::OnDownloadProgress(const DownloadProgress& p) {
    ReportStatus(p.Label, p.Model, p.HWVer, p.FWVer, p.LocalPath, download_kind::kProgress,
                 p.SecondsLeft, p.Percent);
}

void CDownloadManager::ReportStatus(const std::string& series, const std::string& model,
                                    const std::string& hwVer, const std::string& fwVer,
                                    const std::string& localPath, int kind, int a, int b) {
    const std::vector<CFirmwareView*> views = Views();
    for (CFirmwareView* view : views) view->OnDownloadStatus(series, kind, a, b);
    if (kind == download_kind::kImageStored) {
        {
            std::lock_guard lock(mutex_);
            completed_.push_back(localPath);
        }
        std::lock_guard lock(coordinatorMutex_);
        if (coordinator_) coordinator_->OnImageDownloaded(series, model, hwVer, fwVer, localPath);
    } else if (kind == download_kind::kFinished || kind == download_kind::kStopped) {
        Trace("FWStrelvane - Download firmware %s completed.\n", series.c_str());
        bool idle;
        {
            std::lock_guard lock(mutex_);
            --running_;
            std::erase_if(active_, [&](const CDownloadJob* job) { return job->Series == series; });
            StartPendingLocked();
            idle = active_.empty();
        }
        if (idle && kind == download_kind::kFinished) {
            for (CFirmwareView* view : views) view->OnAllDownloadsFinished();
        }
    }
}
