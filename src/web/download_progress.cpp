#include "web/download_progress.h"

#include <algorithm>
#include <numeric>

#include "base/saturating.h"

namespace {
constexpr int64_t kReportIntervalMs = 1000;
constexpr size_t kEstimatesKept = 3;
// Longer than any real download; a trickle of bytes must not show a nonsense time.
constexpr int kMaxSecondsLeft = 99 * 3600 + 59 * 60 + 59;

// `value` within 0 and `most`; anything not a number counts as 0.
float InRange(float value, float most) { return value > 0.0f ? std::min(value, most) : 0.0f; }

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
    // A server may send more than the catalogue's size: nothing is then left, not less.
    const int64_t left = std::max<int64_t>(0, SaturatingAdd(remaining, laterBytes_));
    bytesSinceReport_ = SaturatingAdd(bytesSinceReport_, received);
    const int64_t elapsed = SaturatingSubtract(nowMs, lastReportMs_);
    if (elapsed <= kReportIntervalMs || bytesSinceReport_ == 0) return false;

    const float estimate = static_cast<float>(left) / static_cast<float>(bytesSinceReport_) *
                           static_cast<float>(elapsed) / 1000.0f;
    recent_.push_back(static_cast<int>(InRange(estimate, float{kMaxSecondsLeft})));
    while (recent_.size() > kEstimatesKept) recent_.pop_front();
    secondsLeft = static_cast<int>(std::accumulate(recent_.begin(), recent_.end(), int64_t{0}) /
                                   static_cast<int64_t>(recent_.size()));
    // An empty batch total would divide by zero; such a batch shows 0 percent.
    const float done = batchTotal_ > 0
                           ? static_cast<float>(batchTotal_ - std::min(left, batchTotal_)) /
                                 static_cast<float>(batchTotal_) * 100.0f
                           : 0.0f;
    percent = static_cast<int>(InRange(done, 100.0f));
    bytesSinceReport_ = 0;
    lastReportMs_ = nowMs;
    return true;
}
