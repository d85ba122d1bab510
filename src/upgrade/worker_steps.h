#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "base/clock.h"
#include "upgrade/return_watch.h"
#include "upgrade/upgrade_job.h"

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

// RunWatchedUpload for the job's front image; when the upload succeeds, its size and
// the time it took go to the manager's measure of the run's upload rate.
void RunTimedUpload(UpgradeJob& job, const Clock& clock, std::stop_token stop,
                    const std::function<void(std::stop_token)>& upload,
                    const std::function<void()>& tick);

// Asks the device for its system list under `scheme` at the job's current host and
// port, with the job's credentials. True when it answered at all (a refusal of the
// credentials is an answer too); the answer, with the version it names, goes to `watch`.
bool AskDevice(const UpgradeJob& job, const std::string& scheme, int timeoutMs, ReturnWatch& watch);

// Asks over HTTP, then HTTPS; when neither answers, the device is away.
void AskDeviceEitherWay(const UpgradeJob& job, int timeoutMs, ReturnWatch& watch);

// One look through the search: probes the device and notes a fresh report in `watch`.
// Until the device has returned it is unlisted again at once, so that the next report
// is a fresh one too.
void LookThroughSearch(UpgradeJob& job, ReturnWatch& watch);

// The job's result once the wait for its device is over, with the version the device
// names stored in job.FirmwareAfter (read now, a few times a second apart, when the
// looks did not read it): -10 when it did not return; -408 when images of the firmware
// store were taken and it is back with the version it ran before; else job.Result.
int ReturnOutcome(UpgradeJob& job, ReturnWatch& watch, const Clock& clock, std::stop_token stop);
