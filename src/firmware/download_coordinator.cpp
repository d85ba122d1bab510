#include "firmware/download_coordinator.h"

#include <algorithm>
#include <thread>

void SleepStep(std::chrono::milliseconds step) { std::this_thread::sleep_for(step); }

CDownloadCoordinator::CDownloadCoordinator(CDownloadManager& manager, CFirmwareCatalog& catalog)
    : manager_(manager), catalog_(catalog) {
    manager_.SetCoordinator(this);
}

CDownloadCoordinator::~CDownloadCoordinator() { manager_.SetCoordinator(nullptr); }

void CDownloadCoordinator::AddPage(CFirmwareView* page) {
    manager_.AddListener(page);
    catalog_.AddListener(page);
    page->AttachServices(this, &catalog_);
    std::lock_guard lock(mutex_);
    pages_.push_back(page);
}

void CDownloadCoordinator::QueueSeries(const std::string& series) {
    bool nothingQueued = true;
    const int count = catalog_.CountImages(series);
    const int64_t total = catalog_.SeriesTotalSize(series);
    for (int k = 0; k < count; ++k) {
        CFirmwareDownloadParams p;
        if (catalog_.NeedsDownload(series, k)) {
            if (catalog_.GetDownloadParams(series, k, p) &&
                manager_.Enqueue(series, p.Model, p.HWVer, p.FWVer, p.URL, p.LocalPath, p.MD5,
                                 p.Size, total)) {
                nothingQueued = false;
            }
            continue;
        }
        std::string stored;
        if (catalog_.GetStoredPath(series, k, stored)) manager_.AddCompletedPath(stored);
        if (catalog_.GetDownloadParams(series, k, p)) {
            catalog_.MarkDownloaded(series, p.Model, p.HWVer, p.FWVer);
        }
    }
    std::vector<CFirmwareView*> pages;
    {
        std::lock_guard lock(mutex_);
        pages = pages_;
    }
    for (CFirmwareView* page : pages) page->OnSeriesQueued(series, nothingQueued);
}

void CDownloadCoordinator::DownloadSeries(const std::string& series) {
    QueueSeries(series);
    manager_.StartPending();
}

void CDownloadCoordinator::SelectSeries(const std::string& series) {
    std::lock_guard lock(mutex_);
    selection_.push_back(series);
}

void CDownloadCoordinator::DownloadSelected() {
    std::vector<std::string> selection;
    {
        std::lock_guard lock(mutex_);
        selection = selection_;
    }
    for (const std::string& series : catalog_.SeriesNames()) {
        if (std::find(selection.begin(), selection.end(), series) != selection.end()) {
            QueueSeries(series);
        }
    }
    manager_.StartPending();
}

void CDownloadCoordinator::CancelSeries(const std::string& series, const WaitStep& wait) {
    manager_.StopSeries(series);
    while (!manager_.IsSeriesIdle(series)) wait(kWaitStep);
}

void CDownloadCoordinator::CancelAll(const WaitStep& wait) {
    {
        std::lock_guard lock(mutex_);
        selection_.clear();
    }
    manager_.StopAll();
    while (manager_.HasActiveJobs()) wait(kWaitStep);
}

void CDownloadCoordinator::OnImageDownloaded(const std::string& series, const std::string& model,
                                             const std::string& hwVer, const std::string& fwVer,
                                             const std::string&) {
    catalog_.MarkDownloaded(series, model, hwVer, fwVer);
}
