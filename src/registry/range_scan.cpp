#include "registry/range_scan.h"

#include <algorithm>

CRangeScan::CRangeScan(std::vector<AddressRange> ranges, Ask ask)
    : ranges_(std::move(ranges)), ask_(std::move(ask)) {
    for (const AddressRange& range : ranges_) total_ += range.Count();
}

CRangeScan::~CRangeScan() {
    Cancel();
    Wait();
}

void CRangeScan::Start() {
    std::lock_guard lock(threadsLock_);
    if (!threads_.empty()) return;
    const int count = static_cast<int>(std::min<uint64_t>(kInFlight, total_));
    live_ = count;
    started_ = true;
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Run(); });
}

void CRangeScan::Cancel() { cancelled_ = true; }

CRangeScan::Progress CRangeScan::Now() const {
    Progress progress;
    progress.Asked = asked_;
    progress.Total = total_;
    progress.Added = added_;
    progress.AlreadyListed = listed_;
    progress.Refused = refused_;
    progress.Cancelled = cancelled_;
    progress.Finished = started_ && live_ == 0;
    return progress;
}

void CRangeScan::Wait() {
    std::lock_guard lock(threadsLock_);
    for (std::jthread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

void CRangeScan::Locate(uint64_t index, std::string& host, int& port) const {
    for (const AddressRange& range : ranges_) {
        if (index < range.Count()) {
            host = range.AddressAt(index);
            port = range.Port;
            return;
        }
        index -= range.Count();
    }
}

void CRangeScan::Run() {
    AddressQueryLimits limits;
    limits.ConnectTimeoutMs = kConnectTimeoutMs;
    limits.Cancelled = [this] { return cancelled_.load(); };
    for (uint64_t index = next_++; index < total_ && !cancelled_; index = next_++) {
        std::string host;
        int port = 0;
        Locate(index, host, port);
        switch (ask_(host, port, limits)) {
            case AddressEntryResult::Added:
                ++added_;
                break;
            case AddressEntryResult::MacUsed:
            case AddressEntryResult::AlreadyListed:
                ++listed_;
                break;
            case AddressEntryResult::LoginRefused:
                ++refused_;
                break;
            case AddressEntryResult::Unreachable:
            case AddressEntryResult::Cancelled:
                break;
        }
        ++asked_;
    }
    --live_;
}
