#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/upgrade_progress.h"
#include "schedule/schedule_info.h"
#include "schedule/schedule_list.h"

// The two one-second ticks that run the schedule, as functions of the list, the current
// time (seconds since 1970 on the wall clock) and a file-exists check.

// A waiting entry starts when a tick sees its time within this many seconds after it.
constexpr int64_t kStartWindowSeconds = 10;

// Queued entries start only while at most this many runs are going; the test is made
// once per tick, so one tick may start more.
constexpr int kStartWhileRunningAtMost = 25;

using FileExists = std::function<bool(const std::string&)>;

// One entry's scheduler step; true when its status changed:
// lost image (9) found again → waiting (1); waiting with its image missing → 9;
// waiting within the start window (`windowSeconds` after its time) → queued (2); waiting
// and later than the window → none (0, never started). Other statuses are left alone, and
// so is an entry without a usable address (HasUsableAddress), which is never started.
bool SchedulerStep(CScheduleInfo& entry, int64_t now, const FileExists& fileExists,
                   int64_t windowSeconds = kStartWindowSeconds);

// The scheduler tick over the whole list; the ids of the entries that changed.
std::vector<uint64_t> SchedulerTick(CScheduleList& list, int64_t now, const FileExists& fileExists,
                                    int64_t windowSeconds = kStartWindowSeconds);

// The starter tick: when at most kStartWhileRunningAtMost runs are going, every queued
// entry becomes upgrading (4) and one run per entry is returned for a worker each.
std::vector<CScheduledRun> StarterTick(CScheduleList& list);

// The upload percentage of an entry: 100 − (total − sent) ÷ total × 100, in single
// precision, truncated; 0 while the total is not known yet.
int UploadPercent(int64_t totalBytes, int64_t sentBytes);

// The text of an entry's status cell; "Invalid address" for an entry without a usable
// address, whatever its status.
std::string StatusText(const CScheduleInfo& entry, const TextLookup& lookup);
