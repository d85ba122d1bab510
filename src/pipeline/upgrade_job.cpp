#include "pipeline/upgrade_job.h"

JobAddress UpgradeJob::Address() const {
    std::lock_guard lock(addressLock_);
    return address_;
}

void UpgradeJob::SetAddress(JobAddress address) {
    std::lock_guard lock(addressLock_);
    address_ = std::move(address);
}

void UpgradeJob::MarkSeenAgain(JobAddress address) {
    std::lock_guard lock(addressLock_);
    address_ = std::move(address);
    SeenAgain = 1;
}

std::string UpgradeJob::TakeFrontImage() {
    if (ImageQueue.empty()) return std::string();
    std::string path = std::move(ImageQueue.front());
    ImageQueue.pop_front();
    return path;
}
