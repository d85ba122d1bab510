#pragma once

#include <stop_token>

#include "base/clock.h"
#include "upgrade/upgrade_job.h"

// The bodies of the upgrade manager's worker threads. Each runs one job against its
// device, reports progress (stages 0 to 3) through job.Manager and returns the job's
// final result code, which the manager reports as stage 32, with the firmware version
// read after the device's return in job.FirmwareAfter. A device back with its old
// version after images of the firmware store fails with -408. Every deliberate wait goes
// through `clock`; a stop request ends the job early with -6.

// The NVR family: the log-in check, one cgi_main upload of the front image with its
// progress, then the reboot countdown of 360 seconds, cut short once the device has
// restarted and answers. A device not seen to restart and come back (ReturnWatch) by
// the end of the countdown fails with -10.
int RunNvrWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop);

// The "PLX-420S" models: the preparation request, then per image a firmwareupgrade
// upload and a wait of up to 150 seconds for the device to restart and come back, with
// a running estimate of the time left; -10, and no further image, when it did not.
int RunSingleModelWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop);

// ONVIF cameras of any maker (onvif_worker.cpp): the device service is asked for the
// camera's version and for a firmware upgrade over HTTP (StartFirmwareUpgrade); after the
// UploadDelay the image goes by POST to the UploadUri, with its progress; then the wait
// of up to ExpectedDownTime plus a margin for the camera to restart and come back. Only a
// camera that then names another firmware version counts as upgraded: -408 when it is
// back with the old one, -10 when it is not back, -406 when it refused the image (415),
// -702 when it failed to install it (500), -701 when it takes no firmware over HTTP.
int RunOnvifWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop);

// How long each family's worker waits, at most, for its device to restart and come back
// (the single-model worker for each of `images`), in seconds of the Clock: with the
// upload's time, what a window must leave a device (OnvifWaitSeconds for a camera).
int64_t NvrWaitSeconds();
int64_t SingleModelWaitSeconds(int images);

// The worker of the job's protocol and family.
int RunUpgradeWorker(UpgradeJob& job, const Clock& clock, std::stop_token stop);
