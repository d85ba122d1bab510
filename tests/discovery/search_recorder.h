#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/search_listener.h"

// Keeps every device an engine delivers, from whatever thread.
class SearchRecorder : public ISearchListener {
public:
    void DeviceReported(const CIPCamInfo& record) override {
        std::lock_guard lock(lock_);
        records_.push_back(record);
    }
    std::vector<CIPCamInfo> Records() {
        std::lock_guard lock(lock_);
        return records_;
    }
    std::map<std::string, std::vector<CIPCamInfo>> ById() {
        std::map<std::string, std::vector<CIPCamInfo>> byId;
        for (const CIPCamInfo& r : Records()) byId[r.DeviceId].push_back(r);
        return byId;
    }

private:
    std::mutex lock_;
    std::vector<CIPCamInfo> records_;
};
