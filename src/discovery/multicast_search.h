#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "discovery/search.h"

// The multicast transport: each receive thread announces the engine on every usable
// adapter to a multicast group, then listens on the group's port and passes every
// datagram through ParseReply and DeliverDevice until replies stop coming.
class CMulticastSearch : public CSearch {
public:
    static constexpr int kReceiveWaitMs = 1000;     // a search ends this long after the last reply
    static constexpr size_t kDatagramBytes = 4096;  // read per datagram
    static constexpr size_t kRequestBuffer = 1024;
    static constexpr int kSocketReceiveBytes = 1 << 20;  // asked for; the kernel may cap it

    void Start() override;

protected:
    CMulticastSearch(std::string name, std::string group, uint16_t destinationPort,
                     uint16_t localPort);

private:
    void Receive(std::stop_token token);

    const std::string group_;
    const uint16_t destinationPort_;
    const uint16_t localPort_;
};
