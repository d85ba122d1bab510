#pragma once

#include <stop_token>

#include "base/clock.h"
#include "pipeline/return_watch.h"
#include "pipeline/upgrade_job.h"
#include "schedule/schedule_list.h"
#include "schedule/schedule_observer.h"
#include "upgrade/batch_guard.h"

// Runs one started entry to its end on the calling thread, as the schedule's worker,
// through the upgrade pipeline with the procedure of the device's family (the model
// table's form for the maker's devices, the device service for an ONVIF camera, an
// entry with OnvifService): the device at the entry's address must name the entry's MAC
// first (another device there gets nothing and ends as status 8); then the family's
// preparation and upload (status 3, progress reported every second), status 4 and the
// wait for the device's return (a 10 s pause, then a look every second for up to 7
// minutes, then 10 s more once it is back; a camera that names how long it is away is
// waited for that long and two minutes more; all on `clock`). Only a device seen to
// restart and come back counts (ReturnWatch): answers while it still writes its flash do
// not. The final status follows the result: 5 when the device took the image and came
// back (the entry's VersionAfter then holds the version it names, and VersionBefore
// the one it named before the upload; Version stays as planned); 6 when it refused the
// user name or password; 7 when it refused the image; 8 for anything else, including a
// device that did not restart and come back within the deadline. Reports through
// `observer` and ends `run` exactly once, reporting EntryFinished after it.
//
// A device that does not answer at the entry's address is looked for through
// `locator` (when given): one naming the entry's MAC elsewhere is the device come back
// at a new address, which the entry then holds (and the history records).
//
// `stop` (a shut-down) ends the waits at once and keeps a run that has not begun its
// upload from beginning it; an upload in flight cannot be cut off and is waited for (its
// stall limits bound it). A stopped run ends as IScheduleObserver::EntryFinished says.
//
// An entry with a window (Until) is not started when its image at `rate` (measured by
// the scheduler's earlier uploads; a cautious default without one) plus the wait for
// the device's return would end after the window: it ends as status 10 at once. Its
// successful upload adds to `rate`.
void RunScheduledUpgrade(CScheduledRun run, const Clock& clock, IScheduleObserver& observer,
                         std::stop_token stop, UploadRate* rate = nullptr,
                         IDeviceLocator* locator = nullptr);

// What a batch's guard judges of the entry: its MAC, model, image and the wait for its
// device on a scheduled run, in wall-clock seconds.
BatchCandidate ScheduledCandidate(const CScheduleInfo& entry, const Clock& clock);

// The entry's device as an upgrade job of its family (for the late watch).
void FillScheduledJob(const CScheduleInfo& entry, UpgradeJob& job);
