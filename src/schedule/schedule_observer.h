#pragma once

#include <cstdint>

#include "schedule/schedule_info.h"

// What a scheduled-upgrade worker reports; the schedule page and the command line
// implement it. Called on the worker's thread with a copy of the entry and its id in
// the list (never a pointer into the list): a receiver that draws hands the copy to its
// own thread, and one that finds no entry of that id any more ignores the report.
class IScheduleObserver {
public:
    virtual ~IScheduleObserver() = default;

    // The entry's status or upload progress changed while it runs (statuses 3 and 4).
    virtual void EntryProgress(uint64_t id, const CScheduleInfo& entry) = 0;

    // The run ended with its final status (5 to 8): sent exactly once per run, after
    // CScheduledRun::Finish, so RunningCount no longer counts it. The receiver saves
    // the schedule.
    virtual void EntryFinished(uint64_t id, const CScheduleInfo& entry) = 0;
};
