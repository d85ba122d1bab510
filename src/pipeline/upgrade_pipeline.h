#pragma once

#include <optional>
#include <stop_token>

#include "base/clock.h"
#include "pipeline/device_family.h"
#include "pipeline/upgrade_job.h"

// What the path that starts an upgrade (Upgrade now, a scheduled entry) asks of the
// pipeline beyond the family's own steps.
struct PipelinePath {
    // The wait after each image; none: the family's. A device that names how long it
    // will be away (ONVIF's ExpectedDownTime) is waited for as its family says, on
    // every path.
    std::optional<ReturnPlan> Wait;
    // The random pause before the first request, so that the devices of one run do not
    // all reach the network in the same instant.
    bool RandomStart = true;
    // The device at the address must name job.Mac before anything is sent to it.
    bool CheckMacFirst = false;
    // An upload in flight is not cut off by a stop (its stall limits bound it).
    bool UploadIgnoresStop = false;
};

// Runs one device's upgrade through the session of its family (job.Family): the
// preparation, then for each image the upload with its progress, the wait for the
// device to restart and come back (ReturnWatch; also at another address, through the
// search) and the proof by its version. Progress goes to job.Manager as stages 0 to 3;
// returns the job's final result code, which the caller reports as stage 32, with the
// version read after the return in job.FirmwareAfter. Every deliberate wait goes
// through `clock`; a stop ends the job early with -6.
int RunUpgradePipeline(UpgradeJob& job, const PipelinePath& path, const Clock& clock,
                       std::stop_token stop);

// One look at a device whose wait is over (the late watch), through its family's
// session, noted in `watch`; once it is back, its result as the pipeline judges it,
// with its version in job.FirmwareAfter. Nothing while it is not back.
std::optional<int> LookForReturn(UpgradeJob& job, ReturnWatch& watch, int timeoutMs,
                                 const Clock& clock, std::stop_token stop);

// The result of a device once its wait is over, as `watch` saw it: -10 when it did not
// restart and come back; when it names no version, `result` (or, for a family that
// needs the version, the last look's code, -1 without one); -408 when it names the
// version it ran before and that fails it (`imagesFromStore`, or the family's rule).
int ProvenOutcome(const ReturnWatch& watch, const FamilyTraits& traits, bool imagesFromStore,
                  int lastAsk, int result);

// The wait after each image on `path` for a device of these traits.
const ReturnPlan& PlanOf(const FamilyTraits& traits, const PipelinePath& path);

// ReturnWaitSeconds for the job's device and its images on `path`.
int64_t PathWaitSeconds(const UpgradeJob& job, const PipelinePath& path);

// The longest the pipeline waits for a device after `images` images under `plan`
// (with the budget of `traits`), in seconds of the Clock: with the upload's time, what
// a window must leave a device.
int64_t ReturnWaitSeconds(const FamilyTraits& traits, const ReturnPlan& plan, int images);
