#include "web/download_progress.h"

#include <algorithm>
#include <numeric>

namespace {
constexpr int64_t kReportIntervalMs = 1000;
constexpr size_t kEstimatesKept = 3;
}  // namespace

DownloadProgressEstimator::DownloadProgressEstimator(int64_t laterBytes, int64_t batchTotal)
    : laterBytes_(laterBytes), batchTotal_(batchTotal) {}

void DownloadProgressEstimator::Start(int64_t nowMs) {
    bytesSinceReport_ = 0;
    lastReportMs_ = nowMs;
}

bool DownloadProgressEstimator::Add(int64_t received, int64_t remaining, int64_t nowMs,
                                    int& secondsLeft, int& percent) {
    // The last chunk of the batch's last item: the finish report follows elsewhere.
    if (remaining == 0 && laterBytes_ <= 0) return false;
    const int64_t left = remaining + laterBytes_;
    bytesSinceReport_ += received;
    const int64_t elapsed = nowMs - lastReportMs_;
    if (elapsed <= kReportIntervalMs || bytesSinceReport_ == 0) return false;

    const float estimate = static_cast<float>(left) / static_cast<float>(bytesSinceReport_) *
                           static_cast<float>(elapsed) / 1000.0f;
    recent_.push_back(static_cast<int>(std::clamp(estimate, -2.0e9f, 2.0e9f)));
    while (recent_.size() > kEstimatesKept) recent_.pop_front();
    secondsLeft =
        std::accumulate(recent_.begin(), recent_.end(), 0) / static_cast<int>(recent_.size());
    // An empty batch total would divide by zero; such a batch shows 0 percent.
    percent = batchTotal_ > 0 ? static_cast<int>(static_cast<float>(batchTotal_ - left) /
                                                 static_cast<float>(batchTotal_) * 100.0f)
                              : 0;
    bytesSinceReport_ = 0;
    lastReportMs_ = nowMs;
    return true;
}
