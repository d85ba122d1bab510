#pragma once

#include <string>

#include "device/ip_cam_info.h"
#include "pipeline/device_family.h"

// The maker's log-in check: the NVR log-in form sets LoginOk; the system list (HTTP,
// then HTTPS, at the record's port) gives FirmwareVersion and MacAddress; when
// NvrLoginPending is set it is cleared and the NVR log-in decides. A device that answers
// neither list request is unreachable; one that refuses the credentials is not. Changes
// only LoginOk, FirmwareVersion, MacAddress and NvrLoginPending of `record`.
CheckOutcome CheckMakerLogin(CIPCamInfo& record);

// The version the device at `scheme`://`host`:`port` names in its system list when the
// list names `mac`; empty otherwise.
std::string MakerVersionNamed(const std::string& scheme, const std::string& host, int port,
                              const std::string& user, const std::string& password,
                              const std::string& mac, int timeoutMs);
