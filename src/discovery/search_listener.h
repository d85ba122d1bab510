#pragma once

#include "device/ip_cam_info.h"

// Receives every device a search engine accepts. Called on the engine's receive thread,
// one record at a time per engine.
class ISearchListener {
public:
    virtual ~ISearchListener() = default;
    virtual void DeviceReported(const CIPCamInfo& record) = 0;
};
