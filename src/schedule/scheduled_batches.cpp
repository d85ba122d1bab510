#include "schedule/scheduled_batches.h"

#include "base/trace.h"
#include "schedule/scheduled_upgrade.h"

namespace {

int64_t MinuteOf(const CScheduleInfo& entry) { return entry.UpgradeTime / 60; }

}  // namespace

void CScheduledBatches::SetPolicy(const BatchPolicy& policy) {
    std::lock_guard lock(lock_);
    policy_ = policy;
    policy_.WindowEnd = 0;
}

void CScheduledBatches::Add(CScheduledRun run) {
    const int64_t minute = MinuteOf(run.Entry());
    std::lock_guard lock(lock_);
    auto [at, added] = batches_.try_emplace(minute);
    if (added) at->second.Guard = BatchGuard(policy_);
    at->second.Waiting.push_back(std::move(run));
}

void CScheduledBatches::Release(const Clock& clock, const UploadRate& rate,
                                std::vector<CScheduledRun>& start, std::vector<Refused>& refused) {
    const int64_t now = clock.UnixSeconds();
    std::lock_guard lock(lock_);
    for (auto& [minute, batch] : batches_) {
        for (auto it = batch.Waiting.begin(); it != batch.Waiting.end();) {
            const CScheduleInfo entry = it->Entry();
            const BatchCandidate candidate = ScheduledCandidate(entry, clock);
            const BatchDecision decision = batch.Guard.Decide(candidate, now, rate);
            if (decision.Verdict == BatchVerdict::Hold) {
                if (entry.Status != schedule_status::kQueued) {
                    it->SetStatus(schedule_status::kQueued);
                }
                ++it;
                continue;
            }
            if (decision.Verdict == BatchVerdict::Refuse) {
                Trace("schedule %s: not started (%d)\n", entry.MAC.c_str(), decision.Code);
                refused.push_back({std::move(*it), decision.Code});
            } else {
                batch.Guard.Started(candidate);
                ++batch.Running;
                it->SetStatus(schedule_status::kUpgrading);
                start.push_back(std::move(*it));
            }
            it = batch.Waiting.erase(it);
        }
    }
    std::erase_if(batches_,
                  [](const auto& b) { return b.second.Waiting.empty() && !b.second.Running; });
}

void CScheduledBatches::Ended(const CScheduleInfo& entry, int code) {
    std::lock_guard lock(lock_);
    auto at = batches_.find(MinuteOf(entry));
    if (at == batches_.end()) return;
    at->second.Guard.Ended(entry.MAC, code);
    if (at->second.Running > 0) --at->second.Running;
}

std::vector<CScheduledRun> CScheduledBatches::TakeWaiting() {
    std::lock_guard lock(lock_);
    std::vector<CScheduledRun> waiting;
    for (auto& [minute, batch] : batches_) {
        for (CScheduledRun& run : batch.Waiting) waiting.push_back(std::move(run));
        batch.Waiting.clear();
    }
    return waiting;
}
