#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/ip_cam_info.h"
#include "discovery/adapter_entry.h"
#include "discovery/search_listener.h"

// A search engine: finds devices on the local network without knowing their addresses
// and hands each accepted one to its listeners.
class ISearch {
public:
    virtual ~ISearch() = default;

    // Starts one receive thread; a second call while one runs starts a second thread.
    virtual void Start() = 0;
    // Asks every receive thread to end; each notices within one receive wait.
    virtual void Stop() = 0;
    virtual void AddListener(ISearchListener& listener) = 0;
    // Builds the record the listeners get from a parsed reply and hands each a copy.
    virtual void DeliverDevice(const CIPCamInfo& parsed) = 0;
    virtual std::string GetName() const = 0;
    // Receive threads still running.
    virtual int GetRunningCount() const = 0;
    // Replies are accepted only from vendors whose name contains one of these.
    virtual void SetVendorList(const std::vector<std::string>& names) = 0;
    // Writes the discovery request for one adapter; its length, 0 when `buffer` is too small.
    virtual size_t BuildRequest(const AdapterEntry& adapter, std::span<uint8_t> buffer) const = 0;
    // Checks one reply and fills `record`; true when it is to be delivered.
    virtual bool ParseReply(std::span<const uint8_t> reply, CIPCamInfo& record) = 0;
};
