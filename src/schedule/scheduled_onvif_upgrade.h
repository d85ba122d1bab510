#pragma once

#include <stop_token>

#include "base/clock.h"
#include "schedule/schedule_list.h"
#include "schedule/schedule_observer.h"
#include "upgrade/batch_guard.h"

// A scheduled upgrade of an ONVIF camera (an entry with OnvifService), run to its end on
// the calling thread: the camera at the entry's address must name the entry's MAC
// (GetNetworkInterfaces; another one gets nothing, status 8) and take firmware over
// HTTP; after its UploadDelay the image goes to its UploadUri (status 3, progress every
// second), then status 4 and the wait of ExpectedDownTime plus two minutes for it to
// restart and come back, looking every second. The status it ends with: 5 when it is
// back naming another version (Version and VersionAfter then hold it); 6 when it
// refused the credentials; 7 when it refused the image (415); 8 for anything else,
// including a camera back with its old version or not back in time. Stopped before
// the upload: 2 (queued again); stopped while waiting for the camera: 4. A successful
// upload adds to `rate`.
int ScheduledOnvifStatus(CScheduledRun& run, const Clock& clock, IScheduleObserver& observer,
                         std::stop_token stop, UploadRate& rate);
