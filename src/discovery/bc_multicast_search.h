#pragma once

#include <cstdint>
#include <mutex>

#include "discovery/multicast_search.h"

// The search engine in use: a 64-byte request per adapter to 234.2.2.9:14675 carrying
// that adapter's own network settings; every 256-byte reply with code 111 from an
// accepted vendor becomes a device record for the listeners.
class CBCMulticastSearch final : public CMulticastSearch {
public:
    static constexpr const char* kName = "Multicast";
    static constexpr const char* kGroup = "234.2.2.9";
    static constexpr uint16_t kPort = 14675;  // requests go to it; replies come back to it
    static constexpr size_t kRequestLength = 64;
    static constexpr size_t kReplyLength = 256;  // shorter replies are refused; more is ignored
    static constexpr uint16_t kRequestCode = 110;
    static constexpr uint16_t kReplyCode = 111;

    CBCMulticastSearch();
    ~CBCMulticastSearch() override;

    void DeliverDevice(const CIPCamInfo& parsed) override;
    size_t BuildRequest(const AdapterEntry& adapter, std::span<uint8_t> buffer) const override;
    bool ParseReply(std::span<const uint8_t> reply, CIPCamInfo& record) override;

private:
    std::mutex deliveryLock_;  // listeners get one record at a time
};
