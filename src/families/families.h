#pragma once

#include "pipeline/device_family.h"

// The device families the program upgrades, one per protocol.

// The family that upgrades the devices of `protocol`; the maker's when none claims it.
const IDeviceFamily& FamilyFor(DeviceProtocol protocol);
