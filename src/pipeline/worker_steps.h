#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "base/clock.h"
#include "pipeline/upgrade_job.h"

// Steps the upgrade workers share.

// Sends a progress report for the job through its manager.
void ReportJob(UpgradeJob& job, int stage, int seconds, int percent, int code);

// Reports the step that ended the job before its end (stage 1 or 2) with the job's
// result, and returns that result for the final report.
int EndJobAt(UpgradeJob& job, int stage);

// `done` in percent of `total`, truncated, kept within 0 to 100.
int PercentOf(int64_t done, int64_t total);

// The random pause of 15 to 1014 ms before a worker's first request, so that the
// workers of one run do not all reach the network in the same instant. False when
// stopped meanwhile.
bool WaitRandomStart(const Clock& clock, std::stop_token stop);

// Runs `upload` on a thread of its own, handing it `stop`, and calls `tick` once a
// second while it runs. Returns once the upload has ended and its thread is joined.
void RunWatchedUpload(const Clock& clock, std::stop_token stop,
                      const std::function<void(std::stop_token)>& upload,
                      const std::function<void()>& tick);

// RunWatchedUpload for `image`; when the upload succeeds, its size and the time it took
// go to the host's measure of the run's upload rate.
void RunTimedUpload(UpgradeJob& job, const std::string& image, const Clock& clock,
                    std::stop_token stop, const std::function<void(std::stop_token)>& upload,
                    const std::function<void()>& tick);
