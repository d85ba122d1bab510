#include "upgrade/late_return_watch.h"

#include <optional>
#include <vector>

#include "base/result_codes.h"
#include "base/trace.h"
#include "families/families.h"
#include "pipeline/upgrade_pipeline.h"

CLateReturnWatch::CLateReturnWatch(const Clock& clock, int64_t watchMs, Returned returned,
                                   const CInFlightJournal* journal)
    : clock_(clock), watchMs_(watchMs), returned_(std::move(returned)), journal_(journal) {
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

CLateReturnWatch::~CLateReturnWatch() { Stop(); }

void CLateReturnWatch::Watch(const UpgradeJob& job) {
    auto device = std::make_unique<Watched>(job.FirmwareBefore);
    UpgradeJob& copy = device->Job;
    copy.DeviceId = job.DeviceId;
    copy.SetAddress(job.Address());
    copy.UserName = job.UserName;
    copy.Password = job.Password;
    copy.Manager = job.Manager;
    copy.FirmwareBefore = job.FirmwareBefore;
    copy.ImagesFromStore = job.ImagesFromStore;
    copy.Protocol = job.Protocol;
    copy.ServiceAddresses = job.ServiceAddresses;
    copy.Family = job.Family ? job.Family : &FamilyFor(job.Protocol);
    copy.Model = job.Model;
    copy.SingleModel = job.SingleModel;
    copy.Mac = job.Mac;
    device->UntilMs = clock_.NowMs() + watchMs_;
    std::lock_guard lock(lock_);
    for (const auto& watched : devices_) {
        if (watched->Job.DeviceId == job.DeviceId) watched->Done = true;
    }
    devices_.push_back(std::move(device));
}

void CLateReturnWatch::Forget(const std::string& deviceId) {
    std::lock_guard lock(lock_);
    for (const auto& watched : devices_) {
        if (watched->Job.DeviceId == deviceId) watched->Done = true;
    }
}

void CLateReturnWatch::SeenAgain(const std::string& deviceId, const JobAddress& address) {
    std::lock_guard lock(lock_);
    for (const auto& watched : devices_) {
        if (watched->Job.DeviceId == deviceId && !watched->Done)
            watched->Job.MarkSeenAgain(address);
    }
}

int CLateReturnWatch::Watching() const {
    std::lock_guard lock(lock_);
    int watching = 0;
    for (const auto& watched : devices_) watching += watched->Done ? 0 : 1;
    return watching;
}

void CLateReturnWatch::Stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
}

void CLateReturnWatch::Run(std::stop_token stop) {
    while (clock_.SleepMs(kLookEveryMs, stop)) {
        std::vector<Watched*> due;
        {
            std::lock_guard lock(lock_);
            devices_.remove_if([](const auto& watched) { return watched->Done; });
            for (const auto& watched : devices_) due.push_back(watched.get());
        }
        // No lock held while looking: the search answers through SeenAgain on this thread.
        for (Watched* device : due) {
            if (stop.stop_requested()) return;
            const bool done = Look(*device, stop);
            std::lock_guard lock(lock_);
            if (done) device->Done = true;
        }
    }
}

bool CLateReturnWatch::Look(Watched& device, std::stop_token stop) {
    {
        std::lock_guard lock(lock_);
        if (device.Done) return true;
    }
    UpgradeJob& job = device.Job;
    if (const std::optional<int> code =
            LookForReturn(job, device.Watch, kAskTimeoutMs, clock_, stop)) {
        if (stop.stop_requested()) return true;
        {
            std::lock_guard lock(lock_);
            // Forgotten meanwhile: a new upgrade of the device speaks for it now.
            if (device.Done) return true;
        }
        if (*code >= 0) {
            Trace("upgrade of %s: the device came back late with %s", job.DeviceId.c_str(),
                  job.FirmwareAfter.c_str());
            returned_(job.DeviceId, job.FirmwareAfter);
        }
        Landed(job.DeviceId);
        return true;
    }
    if (stop.stop_requested()) return true;
    if (clock_.NowMs() < device.UntilMs) return false;
    Landed(job.DeviceId);
    return true;
}

void CLateReturnWatch::Landed(const std::string& deviceId) const {
    if (journal_) journal_->OutcomeRecorded(InFlightOrigin::Upgrade, deviceId);
}
