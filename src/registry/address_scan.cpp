#include "registry/address_scan.h"

#include <algorithm>

CAddressScan::CAddressScan(AddressScanRequest request, Ask ask)
    : request_(std::move(request)), ask_(std::move(ask)) {
    for (const AddressRange& range : request_.Ranges) total_ += range.Count();
    total_ += request_.Hosts.size();
}

CAddressScan::~CAddressScan() {
    Cancel();
    Wait();
}

void CAddressScan::Start() {
    std::lock_guard lock(threadsLock_);
    if (started_) return;
    const int count = static_cast<int>(std::min<uint64_t>(kInFlight, total_));
    live_ = count;
    started_ = true;
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Run(); });
}

void CAddressScan::Cancel() { cancelled_ = true; }

CAddressScan::Progress CAddressScan::Now() const {
    Progress progress;
    progress.Asked = asked_;
    progress.Total = total_;
    progress.Added = added_;
    progress.AlreadyListed = listed_;
    progress.Refused = refused_;
    progress.Last = last_;
    progress.Cancelled = cancelled_;
    progress.Finished = started_ && live_ == 0;
    return progress;
}

void CAddressScan::Wait() {
    std::lock_guard lock(threadsLock_);
    for (std::jthread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

void CAddressScan::Locate(uint64_t index, std::string& host, int& port, bool& inRange) const {
    for (const AddressRange& range : request_.Ranges) {
        if (index < range.Count()) {
            host = range.AddressAt(index);
            port = range.Port;
            inRange = true;
            return;
        }
        index -= range.Count();
    }
    host = request_.Hosts[index].first;
    port = request_.Hosts[index].second;
    inRange = false;
}

void CAddressScan::Run() {
    AddressQueryLimits rangeLimits;
    rangeLimits.ConnectTimeoutMs = kRangeConnectTimeoutMs;
    rangeLimits.Cancelled = [this] { return cancelled_.load(); };
    AddressQueryLimits hostLimits;
    hostLimits.Cancelled = rangeLimits.Cancelled;
    for (uint64_t index = next_++; index < total_ && !cancelled_; index = next_++) {
        std::string host;
        int port = 0;
        bool inRange = false;
        Locate(index, host, port, inRange);
        const AddressEntryResult result =
            ask_(host, port, inRange, inRange ? rangeLimits : hostLimits);
        switch (result) {
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
        last_ = result;
        ++asked_;
    }
    --live_;
}
