#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "sim_device.h"

// Answers the multicast discovery request (64 bytes to 234.2.2.9:14675) for every
// simulated device with its 256-byte reply, sent from the device's own address to the
// group. A request that is not exactly what a device expects is ignored and reported
// on stderr. With `logRequests`, every datagram received is printed on stdout as
//   discovery-request from=ADDRESS length=N valid=0|1 bytes=HEX
//
// Device faults it acts on:
//   discovery_short[:N]      reply with only N bytes (default 255)
//   discovery_code:N         command code N instead of 111
//   discovery_vendor[:NAME]  vendor NAME instead of the device's (default "Acme")
//   discovery_duplicate[:N]  send the reply N times (default 2)
//   discovery_delay:MS       wait MS milliseconds before replying
//   discovery_jitter:MS      wait a further random 0..MS milliseconds
//   discovery_loss:P         lose P % of the requests that reach the device and P % of
//                            its replies, each at random, as a busy network does
//   discovery_address:ADDR   name ADDR as its address (sent from its own all the same)
//   discovery_endless        send the reply again every 100 ms for a minute, as a
//                            hostile device may, to keep a search listening
// The fault names above, for devsim's configuration check.
const std::vector<std::string>& DiscoveryFaultNames();

class DiscoveryResponder {
public:
    // True while a device must stay silent (for example while it reboots).
    using AwayCheck = std::function<bool(const SimDevice&)>;

    DiscoveryResponder(const std::vector<std::unique_ptr<SimDevice>>& devices, bool logRequests,
                       AwayCheck away = {});
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Opens the socket, joins the group on every device's address and starts answering;
    // false with the reason when a device's faults are malformed or the socket fails.
    bool Start(std::string& error);

private:
    struct Plan {
        const SimDevice* Device = nullptr;
        in_addr Address{};
        size_t Length = 256;
        uint16_t Code = 111;
        std::string Vendor;
        int Copies = 1;
        int DelayMs = 0;
        int JitterMs = 0;
        int LossPercent = 0;
    };
    struct Pending {
        size_t PlanIndex;
        int InterfaceIndex;
        int Repeats = 0;  // sent so far (discovery_endless)
    };
    using TimePoint = std::chrono::steady_clock::time_point;

    void Run(std::stop_token stop);
    void ReceiveRequest();
    void SendDueReplies();
    // True, at random, for `percent` % of the calls.
    bool Lost(int percent);
    std::vector<uint8_t> Reply(const Plan& plan) const;

    std::vector<Plan> plans_;
    const bool logRequests_;
    const AwayCheck away_;
    int fd_ = -1;
    std::multimap<TimePoint, Pending> due_;
    std::mt19937 random_{std::random_device{}()};
    std::jthread thread_;  // last: stops and joins before the rest goes
};
