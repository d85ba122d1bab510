#include "upgrade/batch_guard.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"

void UploadRate::Add(int64_t bytes, int64_t ms) {
    if (bytes <= 0 || ms < 0) return;
    std::lock_guard lock(lock_);
    bytes_ += bytes;
    // An upload quicker than the clock can tell still took a moment.
    ms_ += std::max<int64_t>(ms, 1);
}

void UploadRate::Clear() {
    std::lock_guard lock(lock_);
    bytes_ = 0;
    ms_ = 0;
}

int64_t UploadRate::BytesPerSecond() const {
    std::lock_guard lock(lock_);
    if (bytes_ <= 0) return kDefaultBytesPerSecond;
    return std::max<int64_t>(1, bytes_ * 1000 / ms_);
}

int64_t UploadRate::SecondsFor(int64_t bytes) const {
    if (bytes <= 0) return 0;
    const int64_t rate = BytesPerSecond();
    return bytes / rate + (bytes % rate != 0 ? 1 : 0);
}

std::string BatchModelKey(std::string_view model) { return ToUpperAscii(Trim(model)); }

int64_t EstimatedSeconds(const BatchCandidate& job, const UploadRate& rate) {
    return rate.SecondsFor(job.ImageBytes) + std::max<int64_t>(0, job.WaitSeconds);
}

BatchGuard::BatchGuard(BatchPolicy policy) : policy_(policy) {}

BatchDecision BatchGuard::Decide(const BatchCandidate& job, int64_t now,
                                 const UploadRate& rate) const {
    if (policy_.MaxFailures > 0) {
        if (failures_ >= policy_.MaxFailures) return {BatchVerdict::Refuse, rc::kTooManyFailures};
    }
    if (policy_.FirstOfEachModel) {
        auto model = models_.find(BatchModelKey(job.Model));
        const ModelState state = model == models_.end() ? ModelState::Open : model->second;
        if (state == ModelState::Failed) return {BatchVerdict::Refuse, rc::kFirstOfModelFailed};
        if (state == ModelState::FirstRunning) return {BatchVerdict::Hold, 0};
    }
    // Every upload in flight may still fail: together they must stay within the limit.
    if (policy_.MaxFailures > 0 &&
        static_cast<int>(running_.size()) >= policy_.MaxFailures - failures_) {
        return {BatchVerdict::Hold, 0};
    }
    if (policy_.WindowEnd != 0 && now + EstimatedSeconds(job, rate) > policy_.WindowEnd) {
        return {BatchVerdict::Refuse, rc::kPastWindow};
    }
    return {BatchVerdict::Start, 0};
}

void BatchGuard::Started(const BatchCandidate& job) {
    const std::string key = BatchModelKey(job.Model);
    running_[job.DeviceId] = key;
    bool first = false;
    if (policy_.FirstOfEachModel) {
        ModelState& state = models_.try_emplace(key, ModelState::Open).first->second;
        first = state == ModelState::Open;
        if (first) state = ModelState::FirstRunning;
    }
    firsts_[job.DeviceId] = first;
}

void BatchGuard::Ended(const std::string& deviceId, int code) {
    auto running = running_.find(deviceId);
    if (running == running_.end()) return;
    const std::string key = running->second;
    running_.erase(running);
    const bool first = firsts_[deviceId];
    firsts_.erase(deviceId);
    const bool failed = code < 0 && code != rc::kCancelled;
    if (failed) ++failures_;
    if (!first) return;
    // A first device stopped by the user proves nothing: another of its model goes first.
    models_[key] = code == rc::kCancelled ? ModelState::Open
                   : failed               ? ModelState::Failed
                                          : ModelState::Passed;
}
