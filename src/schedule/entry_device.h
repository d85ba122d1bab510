#pragma once

#include "device/ip_cam_info.h"
#include "schedule/schedule_info.h"

// The device an entry names, as a record: its address, log-in, MAC and model, and its
// protocol (an entry that keeps a service path is reached through that service, an
// ONVIF camera's; the file names no protocol otherwise), with the service's address.
CIPCamInfo EntryDevice(const CScheduleInfo& entry);
