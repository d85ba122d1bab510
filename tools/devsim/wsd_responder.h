#pragma once

#include <netinet/in.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "sim_device.h"

// Answers WS-Discovery Probes (SOAP 1.2 over UDP to 239.255.255.250 port 3702) for every
// ONVIF camera, as cameras do: a ProbeMatches from the camera's own address to the
// probe's sender, after a random pause of up to kMaxReplyDelayMs, naming the camera's
// endpoint reference (a "urn:uuid:" made from its id, the same after every restart),
// its scopes (name and hardware) and its device service address. Checks the probe as a
// camera would: a SOAP 1.2 envelope with the Probe action, the discovery To, a MessageID
// and, when Types are given, tds:Device among them; a MessageID seen before is ignored.
// A camera that is away (restarting) stays silent. With `logRequests` every datagram is
// printed as 'wsd-probe from=A message_id=M valid=0|1'.
//
// Device faults: wsd_stale_xaddr:HOST lists a service address on HOST before its own;
// wsd_endless sends its reply again every 100 ms for a minute;
// wsd_relates_to_upper echoes the probe's MessageID in upper case (as the ONVIF
// programmer's guide's example does); wsd_trailing_nul sends a NUL byte after the XML.
class WsdResponder {
public:
    static constexpr int kMaxReplyDelayMs = 100;
    using AwayCheck = std::function<bool(const SimDevice&)>;

    WsdResponder(const std::vector<std::unique_ptr<SimDevice>>& devices, bool logRequests,
                 AwayCheck away);
    ~WsdResponder();
    WsdResponder(const WsdResponder&) = delete;
    WsdResponder& operator=(const WsdResponder&) = delete;

    // Opens the socket, joins the group on every camera's address and starts answering;
    // false with the reason when that fails.
    bool Start(std::string& error);

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Pending {
        const SimDevice* Device = nullptr;
        sockaddr_in To{};
        int InterfaceIndex = 0;
        std::string RelatesTo;
        int Repeats = 0;  // sent so far (wsd_endless)
    };

    void Run(std::stop_token stop);
    void ReceiveProbe();
    void SendDue();

    std::vector<const SimDevice*> cameras_;
    const bool logRequests_;
    const AwayCheck away_;
    int fd_ = -1;
    std::deque<std::string> seen_;  // MessageIDs answered lately
    std::multimap<TimePoint, Pending> due_;
    std::mt19937 random_{std::random_device{}()};
    std::jthread thread_;  // last: stops and joins before the rest goes
};

// The endpoint reference of a camera: "urn:uuid:" and a UUID made from its id.
std::string CameraEndpoint(const SimDevice& device);

const std::vector<std::string>& WsdFaultNames();
