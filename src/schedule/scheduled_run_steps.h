#pragma once

#include <cstdint>
#include <stop_token>

#include "base/clock.h"
#include "schedule/schedule_list.h"
#include "schedule/schedule_observer.h"
#include "upgrade/batch_guard.h"

// Steps a scheduled upgrade takes whatever the device's protocol.

// Tells the observer what the run's entry holds now.
void ReportEntry(CScheduledRun& run, IScheduleObserver& observer);

// Whether the entry has a window (Until) and `job` would not finish inside it if
// started now at `rate`.
bool PastWindow(const CScheduleInfo& entry, const BatchCandidate& job, const Clock& clock,
                const UploadRate& rate);

// The final status of a run with this result: 5 for 0; 6 when the user name or password
// was refused (-304, -301); 7 when the image was refused (-406); 8 for any other.
int ScheduleStatusOf(int result);

// The result code of a finished run as its status and precise code say: 0 for 5; -304
// for 6; -406 for 7; for 8 the run's own code, else its upload's, else -1; -603 for
// 10; -6 for a run a
// shut-down stopped.
int ScheduledResultCode(const CScheduleInfo& entry);
