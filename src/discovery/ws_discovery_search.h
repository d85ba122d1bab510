#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "discovery/search.h"

// The search for ONVIF devices of any maker: each receive thread multicasts a
// WS-Discovery Probe (type tds:Device) to 239.255.255.250:3702 out of every usable
// adapter, kProbes times kProbeIntervalMs apart (datagrams get lost, and a device
// ignores a probe it has seen), and takes the ProbeMatches the devices send back to its
// own port until kReceiveWaitMs pass without one after the last probe, and never longer
// than kMostListenMs after it (a device that keeps replying keeps no search). Every match of
// one of its probes becomes a device record keyed by the device's endpoint reference
// (a "urn:uuid:" that stays with the device), with the device service's addresses in
// the order to try them. No vendor filter: ONVIF devices of every maker are taken.
class CWsDiscoverySearch final : public CSearch {
public:
    static constexpr const char* kName = "WS-Discovery";
    static constexpr int kProbes = 3;
    static constexpr int kProbeIntervalMs = 500;
    static constexpr int kReceiveWaitMs = 1000;
    static constexpr int kMostListenMs = 3000;
    static constexpr int kSocketReceiveBytes = 1 << 20;

    CWsDiscoverySearch();
    ~CWsDiscoverySearch() override;

    void Start() override;
    // Hands a copy of the record to every listener, one record at a time.
    void DeliverDevice(const CIPCamInfo& parsed) override;
    // A Probe with a fresh MessageID, which replies must name to be taken; 0 when the
    // buffer is too small.
    size_t BuildRequest(const AdapterEntry& adapter, std::span<uint8_t> buffer) const override;
    // The first match of a ProbeMatches that answers one of this engine's probes.
    bool ParseReply(std::span<const uint8_t> reply, CIPCamInfo& record) override;

    // The records of every match in a reply from `sender` (dotted IPv4) that answers one
    // of this engine's probes; the sender's address is recorded as having answered.
    std::vector<CIPCamInfo> ParseMatches(std::span<const uint8_t> reply, const std::string& sender);

private:
    void Receive(std::stop_token token);
    bool IsOwnProbe(const std::string& messageId) const;

    std::mutex deliveryLock_;  // listeners get one record at a time
    mutable std::mutex probesLock_;
    mutable std::set<std::string> probeIds_;  // MessageIDs sent, so that replies can be matched
};
