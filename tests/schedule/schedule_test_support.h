#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "schedule/schedule_info.h"
#include "schedule/schedule_observer.h"
#include "support/devsim_process.h"
#include "support/wait_until.h"

// Shared by the tests that run scheduled upgrades against devsim.

// One report of a run, in the order reported.
struct ScheduleEvent {
    uint64_t Id = 0;
    CScheduleInfo Entry;
    bool Finished = false;
};

// Records every report; reports may come from several threads at once.
class ScheduleRecorder : public IScheduleObserver {
public:
    void EntryProgress(uint64_t id, const CScheduleInfo& entry) override;
    void EntryFinished(uint64_t id, const CScheduleInfo& entry) override;

    std::vector<ScheduleEvent> Events() const;
    // The statuses reported for `id`, repeats of one status folded into one.
    std::vector<int> Statuses(uint64_t id) const;
    int FinishedCount(uint64_t id) const;

private:
    mutable std::mutex mutex_;
    std::vector<ScheduleEvent> events_;
};

// A waiting entry for devsim's device `device` (user admin, password vqmtz) at
// `upgradeTime`, with the image at `image`.
CScheduleInfo EntryFor(const DevsimProcess::Device& device, const std::string& mac,
                       const std::string& image, int64_t upgradeTime);

// A complete entry of the kind the file tests store (address 10.0.0.5, image
// /fw/nvr.bin).
CScheduleInfo StoredEntry(const std::string& mac, int64_t time, int status);

// What devsim printed until it stayed quiet for `quiet`.
std::string OutputSoFar(DevsimProcess& sim,
                        std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
