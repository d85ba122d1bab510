#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

// The guards of one run of upgrades against a bad image and an overlong night: one
// device of each model first, a limit of failed devices, and a window the work must
// fit. Every guard is off by default.
struct BatchPolicy {
    // The first device of each model upgrades alone; the rest of that model start once
    // it is back with its new firmware, and not at all when it failed.
    bool FirstOfEachModel = false;
    // Once this many devices of the run have failed, no further upload starts; 0: no
    // limit. While it is set, no more uploads run at once than failures are still
    // allowed, so that the run never loses more devices than this.
    int MaxFailures = 0;
    // A device that would not finish by this moment (seconds since 1970 on the run's
    // Clock) is not started; 0: no window.
    int64_t WindowEnd = 0;

    bool operator==(const BatchPolicy&) const = default;
};

// The upload rate measured so far: the bytes of the finished uploads over the time they
// took. Safe to share between threads.
class UploadRate {
public:
    // A slow site link: what is assumed until an upload has been measured.
    static constexpr int64_t kDefaultBytesPerSecond = 250000;

    // One upload of `bytes` that took `ms` milliseconds of the Clock.
    void Add(int64_t bytes, int64_t ms);
    // Forgets every measurement (a new run).
    void Clear();
    int64_t BytesPerSecond() const;
    // Whole seconds, rounded up, to send `bytes` at that rate.
    int64_t SecondsFor(int64_t bytes) const;

private:
    mutable std::mutex lock_;
    int64_t bytes_ = 0;
    int64_t ms_ = 0;
};

// What the guard knows of one device's job.
struct BatchCandidate {
    std::string DeviceId;
    std::string Model;        // the model as listed
    int64_t ImageBytes = 0;   // what the job will send
    int64_t WaitSeconds = 0;  // its family's wait for the device's return
};

// The model a device counts under: its listed model without surrounding blanks, without
// regard to case (an empty model is a model of its own).
std::string BatchModelKey(std::string_view model);

// The seconds a job is expected to take from its start: its images at `rate`, plus its
// family's wait.
int64_t EstimatedSeconds(const BatchCandidate& job, const UploadRate& rate);

enum class BatchVerdict {
    Start,   // may start now
    Hold,    // waits: for the first device of its model, or for failures to be allowed
    Refuse,  // never starts this run; ends with Code
};

struct BatchDecision {
    BatchVerdict Verdict = BatchVerdict::Start;
    int Code = 0;  // with Refuse: the device's final result code
};

// The guard of one run. Told of each job's start and end, it decides whether a waiting
// job may start. Not thread-safe: its owner (the upgrade manager) calls it under its
// lock.
class BatchGuard {
public:
    explicit BatchGuard(BatchPolicy policy = {});

    const BatchPolicy& Policy() const { return policy_; }

    // Whether `job` may start its upload now (`now`: seconds since 1970 on the run's
    // Clock). Refusals, in this order: too many failures (-602); its model's first
    // device failed (-601); it would end after the window (-603), judged only once the
    // other guards let it start.
    BatchDecision Decide(const BatchCandidate& job, int64_t now, const UploadRate& rate) const;

    // The job has started (after Decide said Start): it may be its model's first.
    void Started(const BatchCandidate& job);
    // A started job has ended with its final code: a failure counts against the limit
    // (a cancelled job does not), and the first device of a model decides for the rest.
    void Ended(const std::string& deviceId, int code);

    int Failures() const { return failures_; }

private:
    enum class ModelState { Open, FirstRunning, Passed, Failed };

    BatchPolicy policy_;
    std::map<std::string, ModelState> models_;
    std::map<std::string, std::string> running_;  // device -> model key
    std::map<std::string, bool> firsts_;          // running devices that are their model's first
    int failures_ = 0;
};
