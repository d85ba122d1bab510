#pragma once

#include <string>
#include <vector>

#include "device/ip_cam_info.h"

// strelvane-cli search [--interface NAME]...: one JSON line per device found, until
// the search ends.
int RunSearch(const std::vector<std::string>& args);

// The devices as an aligned table for a terminal `columns` wide, the header line first:
// one line per device that never wraps, and every column shown however long or wide the
// devices' texts are (the widest columns give way, their texts cut with "…").
std::vector<std::string> DeviceTableLines(const std::vector<CIPCamInfo>& devices, bool withLogin,
                                          int columns);
