#pragma once

#include <cstdint>
#include <deque>

// The time-left and percent estimate of a batch of downloads: reports come at most
// about once a second and the time left is the mean of the last three estimates.
class DownloadProgressEstimator {
public:
    // `laterBytes`: the summed sizes of the items after this one in the batch;
    // `batchTotal`: the summed sizes of the whole batch.
    DownloadProgressEstimator(int64_t laterBytes, int64_t batchTotal);

    // Starts the clock: the first report comes a second after this.
    void Start(int64_t nowMs);

    // One chunk of `received` bytes arrived and `remaining` bytes of this answer are
    // still to come. True when a report is due, with its values.
    bool Add(int64_t received, int64_t remaining, int64_t nowMs, int& secondsLeft, int& percent);

private:
    int64_t laterBytes_;
    int64_t batchTotal_;
    int64_t bytesSinceReport_ = 0;
    int64_t lastReportMs_ = 0;
    std::deque<int> recent_;
};
