#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "registry/address_entry.h"
#include "registry/address_range.h"
#include "web/address_entry_query.h"

// What to ask: the addresses of some ranges (scanned: a short connect time-out, since
// most of their addresses hold no device), and single addresses as typed (a host name,
// an IPv4 or IPv6 address; asked with the usual time-outs).
struct AddressScanRequest {
    std::vector<AddressRange> Ranges;
    std::vector<std::pair<std::string, int>> Hosts;  // host, port
    std::string User;
    std::string Password;
};

// Asks every address of a request who is there, kInFlight addresses at a time, and
// hands each to the caller's `ask`, which adds the device. Runs on threads of its own
// from Start until every address has been asked or Cancel came; a cancelled scan ends
// the requests under way within about 100 ms, so the one who cancels need not wait for
// it. The destructor cancels and waits for the threads.
class CAddressScan {
public:
    static constexpr int kInFlight = 32;
    // A device on the LAN or a routed VLAN accepts a connection within milliseconds;
    // most addresses of a range hold none, and each of those costs this much.
    static constexpr int kRangeConnectTimeoutMs = 400;

    // Asks the device at one address and adds it; `inRange`: the address is one of a
    // range's. How it went.
    using Ask = std::function<AddressEntryResult(const std::string& host, int port, bool inRange,
                                                 const AddressQueryLimits& limits)>;

    struct Progress {
        uint64_t Asked = 0;  // addresses done
        uint64_t Total = 0;
        int Added = 0;          // devices added
        int AlreadyListed = 0;  // devices that were listed already
        int Refused = 0;        // devices that refused the user name and password
        // How the last address asked went (for one address: how the query ended).
        AddressEntryResult Last = AddressEntryResult::Unreachable;
        bool Finished = false;  // every thread has ended (all asked, or cancelled)
        bool Cancelled = false;

        int Found() const { return Added + AlreadyListed + Refused; }
    };

    CAddressScan(AddressScanRequest request, Ask ask);
    ~CAddressScan();
    CAddressScan(const CAddressScan&) = delete;
    CAddressScan& operator=(const CAddressScan&) = delete;

    const AddressScanRequest& Request() const { return request_; }
    void Start();
    // Asks no further address and ends the requests under way.
    void Cancel();
    Progress Now() const;
    // Waits until every thread has ended; not on a user-interface thread.
    void Wait();

private:
    void Run();
    // The `index`th address over the ranges, then the hosts.
    void Locate(uint64_t index, std::string& host, int& port, bool& inRange) const;

    const AddressScanRequest request_;
    const Ask ask_;
    uint64_t total_ = 0;
    std::atomic<uint64_t> next_{0};
    std::atomic<uint64_t> asked_{0};
    std::atomic<int> added_{0};
    std::atomic<int> listed_{0};
    std::atomic<int> refused_{0};
    std::atomic<AddressEntryResult> last_{AddressEntryResult::Unreachable};
    std::atomic<int> live_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
    std::mutex threadsLock_;  // guards threads_
    std::vector<std::jthread> threads_;
};
