#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "discovery/search.h"

// The multicast transport: each receive thread announces the engine on every usable
// adapter to a multicast group, repeats the announcement a few times (RepeatSchedule)
// while it listens on the group's port, and passes every datagram through ParseReply
// and DeliverDevice until requests and replies stop coming.
class CMulticastSearch : public CSearch {
public:
    // A search ends this long after the last reply (or request, when that came later),
    // and never later than kMostListenMs after the last request: a device that keeps
    // replying keeps no search.
    static constexpr int kReceiveWaitMs = 1000;
    static constexpr int kMostListenMs = 3000;
    static constexpr int kStopCheckMs = 250;        // a stop request is seen this soon
    static constexpr size_t kDatagramBytes = 4096;  // read per datagram
    static constexpr size_t kRequestBuffer = 1024;
    // Asked for: room for the replies of some 7,000 devices at once; the kernel may cap
    // it (net.core.rmem_max).
    static constexpr int kSocketReceiveBytes = 16 << 20;
    // What the kernel counts against the buffer for one reply (the datagram and its
    // bookkeeping), as measured on veth and Ethernet.
    static constexpr int kBytesPerReply = 2300;

    void Start() override;

protected:
    CMulticastSearch(std::string name, std::string group, uint16_t destinationPort,
                     uint16_t localPort);

private:
    // Whether the address a reply names may be asked: true unless it is a loopback or
    // link-local one that the reply did not come from.
    bool ClaimBelievable(const CIPCamInfo& record, const std::string& sender) const;
    void Receive(std::stop_token token);
    // Asks the kernel for a receive buffer of kSocketReceiveBytes; traces what it grants
    // when that is less.
    void SizeReceiveBuffer(int fd) const;
    // Sends the request out of every adapter that could be set up (`first`: set them up
    // and note which in `usable`); the number of requests sent.
    size_t SendRequests(int fd, const std::vector<AdapterEntry>& adapters,
                        std::vector<bool>& usable, bool first);

    const std::string group_;
    const uint16_t destinationPort_;
    const uint16_t localPort_;
};
