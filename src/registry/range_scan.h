#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "registry/address_entry.h"
#include "registry/address_range.h"
#include "web/address_entry_query.h"

// Asks every address of some ranges who is there, kInFlight addresses at a time, each
// with a short connect time-out (most addresses of a range hold no device), and hands
// every answer to the caller's `ask`, which adds the device. Runs on threads of its own
// from Start until every address has been asked or Cancel came; a cancelled scan ends
// its requests within about 100 ms. The destructor cancels and waits for the threads.
class CRangeScan {
public:
    static constexpr int kInFlight = 32;
    static constexpr int kConnectTimeoutMs = 500;

    // Asks the device at one address and adds it; how it went.
    using Ask = std::function<AddressEntryResult(const std::string& host, int port,
                                                 const AddressQueryLimits& limits)>;

    struct Progress {
        uint64_t Asked = 0;  // addresses done
        uint64_t Total = 0;
        int Added = 0;          // devices added
        int AlreadyListed = 0;  // devices that were listed already
        int Refused = 0;        // devices that refused the user name and password
        bool Finished = false;  // every thread has ended (all asked, or cancelled)
        bool Cancelled = false;

        int Found() const { return Added + AlreadyListed + Refused; }
    };

    CRangeScan(std::vector<AddressRange> ranges, Ask ask);
    ~CRangeScan();
    CRangeScan(const CRangeScan&) = delete;
    CRangeScan& operator=(const CRangeScan&) = delete;

    void Start();
    // Asks no further address and ends the requests under way.
    void Cancel();
    Progress Now() const;
    // Waits until every thread has ended; not on a user-interface thread.
    void Wait();

private:
    void Run();
    // The host and port of the `index`th address over all ranges.
    void Locate(uint64_t index, std::string& host, int& port) const;

    const std::vector<AddressRange> ranges_;
    const Ask ask_;
    uint64_t total_ = 0;
    std::atomic<uint64_t> next_{0};
    std::atomic<uint64_t> asked_{0};
    std::atomic<int> added_{0};
    std::atomic<int> listed_{0};
    std::atomic<int> refused_{0};
    std::atomic<int> live_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
    std::mutex threadsLock_;  // guards threads_
    std::vector<std::jthread> threads_;
};
