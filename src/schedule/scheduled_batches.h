#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "schedule/schedule_list.h"
#include "upgrade/batch_guard.h"

// The started entries of a schedule, grouped into batches by the minute they were due:
// each batch is guarded as one run of Upgrade now is (BatchGuard: one device of each
// model first, a limit of failed devices). Runs wait here until their batch's guard lets
// them start. Safe to call from any thread.
class CScheduledBatches {
public:
    // The guards every batch takes from now on; the window's end is each entry's own.
    void SetPolicy(const BatchPolicy& policy);

    // A run its time has started: it joins the batch of its minute.
    void Add(CScheduledRun run);

    struct Refused {
        CScheduledRun Run;
        int Code = 0;  // the guard's (-601, -602)
    };
    // Takes out the runs their guards now let start (`start`, each counted as started)
    // and those they refuse, in the order the runs came; the others wait, shown as queued.
    void Release(const Clock& clock, const UploadRate& rate, std::vector<CScheduledRun>& start,
                 std::vector<Refused>& refused);

    // A started run of `entry` has ended with `code`.
    void Ended(const CScheduleInfo& entry, int code);

    // Takes every waiting run (a shut-down).
    std::vector<CScheduledRun> TakeWaiting();

private:
    struct Batch {
        BatchGuard Guard;
        std::deque<CScheduledRun> Waiting;
        int Running = 0;
    };

    std::mutex lock_;
    BatchPolicy policy_;
    std::map<int64_t, Batch> batches_;  // by the minute the entries were due
};
