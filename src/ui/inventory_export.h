#pragma once

#include <QString>
#include <string>
#include <vector>

#include "device/ip_cam_info.h"
#include "firmware/firmware_match.h"

// Saves the site inventory of `devices` (the Upgrade page's list) at `path`: the HTML
// page for a name ending in ".html" or ".htm", CSV otherwise, written atomically. Empty
// when saved, else the system's reason.
QString SaveInventory(const QString& path, const std::vector<CIPCamInfo>& devices,
                      const IFirmwareMatch& store, const std::string& historyPath);
