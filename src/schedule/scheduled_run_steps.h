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

// Whether the entry has a window (Until) and would not finish inside it if started now:
// its image at `rate`, then up to `waitSeconds` (the Clock's) for the device's return.
bool PastWindow(const CScheduleInfo& entry, int64_t waitSeconds, const Clock& clock,
                const UploadRate& rate);

// The final status of a run with this result: 5 for 0; 6 when the user name or password
// was refused (-304, -301); 7 when the image was refused (-406); 8 for any other.
int ScheduleStatusOf(int result);
