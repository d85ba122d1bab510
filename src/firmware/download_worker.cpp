// The worker side of the download manager: one job, image after image.
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "base/result_codes.h"
#include "base/trace.h"
#include "firmware/download_manager.h"
#include "firmware/download_status.h"
#include "firmware/file_md5.h"
#include "firmware/store_download_sink.h"
#include "web/web_client.h"

namespace {

constexpr int kImageTimeoutMs = 30000;
// The pause before an image is tried again: 50 steps of 100 ms, so a cancel ends it soon.
constexpr int kRetrySteps = 50;
constexpr int64_t kRetryStepMs = 100;

void TraceAttempt(const CDownloadJob& job, const CDownloadItem& item) {
    Trace("FWStrelvane - Download firmware %s %s %s %lld.\n", job.Series.c_str(),
          item.Model.c_str(), item.HWVer.c_str(), static_cast<long long>(item.Size));
}

// The status a failed attempt shows while it waits to retry; -1 for none.
int FailureKind(int result, const std::string& url) {
    switch (result) {
        case rc::kNameNotResolved:
            Trace("FWStrelvane - Download firmware %s NAME NOT RESOLVED.\n", url.c_str());
            return download_kind::kNetworkError;
        case rc::kCannotConnect:
            Trace("FWStrelvane - Download firmware %s CANNOT CONNECT.\n", url.c_str());
            return download_kind::kNetworkError;
        case rc::kProxyRefused:
            Trace("FWStrelvane - Download firmware %s PROXY REFUSED.\n", url.c_str());
            return download_kind::kNetworkError;
        case rc::kTimeout:
            Trace("FWStrelvane - Download firmware %s TIMEOUT.\n", url.c_str());
            return download_kind::kNetworkError;
        case rc::kSinkStopped:
            Trace("FWStrelvane - Download firmware %s NOT ENOUGH FREE SPACE TO SAVE FIRMWARE.\n",
                  url.c_str());
            return download_kind::kNoSpace;
        default:
            Trace("FWStrelvane - Download firmware %s failure.\n", url.c_str());
            return -1;
    }
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

void CDownloadManager::ReportFailure(const CDownloadJob& job, const CDownloadItem& item, int result,
                                     int attempt, bool retrying) const {
    for (CFirmwareView* view : Views()) {
        view->OnDownloadFailed(job.Series, FileNameOf(item.LocalPath), result, attempt, retrying);
    }
}

void CDownloadManager::RunJob(CDownloadJob& job) {
    Trace("FWStrelvane - Download firmware %s.\n", job.Series.c_str());
    bool imageFailed = false;
    for (size_t i = 0; i < job.Items.size() && !job.Cancelled; ++i) {
        CDownloadItem& item = job.Items[i];
        item.Progress = this;
        const Claim claim = ClaimPath(job, item.LocalPath);
        if (claim == Claim::Cancelled) break;
        if (claim == Claim::Stored) {
            // Another series' job just stored and verified this very file.
            ReportStatus(job.Series, item.Model, item.HWVer, item.FWVer, item.LocalPath,
                         download_kind::kImageStored, 0, 100);
            continue;
        }
        bool spaceShort = false;
        for (int attempt = 1;; ++attempt) {
            const int result = DownloadOnce(job, item, i);
            if (result == rc::kOk) {
                Trace("FWStrelvane - Download firmware %s success.\n", item.URL.c_str());
                std::string md5;
                ComputeFileMD5(item.LocalPath, md5, &job.Cancelled);
                if (job.Cancelled) break;  // unverified; the next check looks at it again
                if (md5 == item.MD5) {
                    Trace("FWStrelvane - Download firmware %s check MD5 success.\n",
                          item.URL.c_str());
                    ReportStatus(job.Series, item.Model, item.HWVer, item.FWVer, item.LocalPath,
                                 download_kind::kImageStored, 0, 100);
                } else {
                    Trace("FWStrelvane - Download firmware %s check MD5 failure.\n",
                          item.URL.c_str());
                    ::unlink(item.LocalPath.c_str());
                    imageFailed = true;
                    ReportFailure(job, item, rc::kChecksumMismatch, attempt, false);
                }
                break;
            }
            TraceAttempt(job, item);
            const int kind = FailureKind(result, item.URL);
            if (kind >= 0) {
                ReportStatus(job.Series, item.Model, item.HWVer, item.FWVer, item.LocalPath, kind,
                             0, 100);
            }
            // One notice per shortage; the kind-16 statuses go on while it lasts.
            if (kind == download_kind::kNoSpace && !spaceShort) {
                for (CFirmwareView* view : Views()) view->OnDiskFull();
            }
            spaceShort = kind == download_kind::kNoSpace;
            if (job.Cancelled) break;
            ReportFailure(job, item, result, attempt, true);
            if (!WaitBeforeRetry(job)) break;
        }
        ReleasePath(item.LocalPath);
    }
    // A job that lost an image to its MD5 check did not bring the series up to date.
    const bool complete = !job.Cancelled && !imageFailed;
    ReportStatus(job.Series, "", "", "", "",
                 complete ? download_kind::kFinished : download_kind::kStopped, 0, 100);
}

int CDownloadManager::DownloadOnce(CDownloadJob& job, CDownloadItem& item, size_t index) {
    item.SpaceOK = true;
    // Not even the missing part fits: wait for space without asking the server.
    if (!RoomForImage(freeSpace_, item.LocalPath, item.Size)) {
        item.SpaceOK = false;
        return rc::kSinkStopped;
    }
    TraceAttempt(job, item);
    CStoreDownloadSink sink(item, job.Series, job.BytesAfter(index), job.TotalBytes, freeSpace_);
    {
        std::lock_guard lock(mutex_);
        sink.SetProxy(proxy_);
    }
    std::string target = item.LocalPath;
    return HttpFetch(sink, "", "", item.URL, kImageTimeoutMs, target);
}

CDownloadManager::Claim CDownloadManager::ClaimPath(const CDownloadJob& job,
                                                    const std::string& path) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (job.Cancelled) return Claim::Cancelled;
        if (std::find(completed_.begin(), completed_.end(), path) != completed_.end()) {
            return Claim::Stored;
        }
        if (std::find(claimed_.begin(), claimed_.end(), path) == claimed_.end()) {
            claimed_.push_back(path);
            return Claim::Mine;
        }
        // Real time: this waits for another worker, and a cancel is seen within 100 ms.
        released_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void CDownloadManager::ReleasePath(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        if (auto it = std::find(claimed_.begin(), claimed_.end(), path); it != claimed_.end()) {
            claimed_.erase(it);
        }
    }
    released_.notify_all();
}

bool CDownloadManager::WaitBeforeRetry(const CDownloadJob& job) const {
    for (int step = 0; step < kRetrySteps; ++step) {
        if (job.Cancelled) return false;
        clock_.SleepMs(kRetryStepMs);
    }
    return !job.Cancelled;
}
