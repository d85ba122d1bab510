#pragma once

#include <cstdint>

#include "schedule/schedule_info.h"

// What the scheduler reports; the schedule page and the command line implement it.
// Called with a copy of the entry and its id in the list (never a pointer into the
// list), on the scheduler's tick thread or on a worker's thread, possibly from several
// threads at once: a receiver that draws hands the copy to its own thread, and one that
// finds no entry of that id any more ignores the report.
class IScheduleObserver {
public:
    virtual ~IScheduleObserver() = default;

    // The entry's status changed at a tick (waiting, queued, lost image, missed, started),
    // or its status or upload progress changed while its worker runs (statuses 3 and 4).
    virtual void EntryProgress(uint64_t id, const CScheduleInfo& entry) = 0;

    // The run ended: sent exactly once per run, after CScheduledRun::Finish, so
    // RunningCount no longer counts it. The status is final (5 to 8), unless a shut-down
    // stopped the run: then it is 2 when the device was not touched yet (saved as
    // waiting), or 4 when the device took the image and its return was not seen (kept
    // as "Upgrading", like a run the program ended during).
    virtual void EntryFinished(uint64_t id, const CScheduleInfo& entry) = 0;
};
