#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "base/clock.h"
#include "schedule/schedule_list.h"
#include "schedule/schedule_observer.h"
#include "upgrade/batch_guard.h"

// Steps a scheduled upgrade takes whatever the device's protocol.

// Tells the observer what the run's entry holds now.
void ReportEntry(CScheduledRun& run, IScheduleObserver& observer);

// Sends an image: sets `total` before it sends and follows the bytes in `sent`; the
// upload's result code.
using ImageSender =
    std::function<int(std::atomic<int64_t>& total, std::atomic<int64_t>& sent, std::stop_token)>;

// Runs `send` on a thread of its own while this one copies its byte counts into the
// entry and reports them every second (on `clock`); the upload's result, also stored as
// the entry's UploadResult. A successful upload adds to `rate`.
int UploadReporting(CScheduledRun& run, const CScheduleInfo& entry, const Clock& clock,
                    IScheduleObserver& observer, UploadRate& rate, const ImageSender& send);

// Whether the entry has a window (Until) and would not finish inside it if started now:
// its image at `rate`, then up to `waitSeconds` (the Clock's) for the device's return.
bool PastWindow(const CScheduleInfo& entry, int64_t waitSeconds, const Clock& clock,
                const UploadRate& rate);

// The final status of a run with this result: 5 for 0; 6 when the user name or password
// was refused (-304, -301); 7 when the image was refused (-406); 8 for any other.
int ScheduleStatusOf(int result);
