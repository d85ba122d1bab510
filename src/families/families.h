#pragma once

#include <span>

#include "pipeline/device_family.h"

// The device families the program finds and upgrades, one per protocol.
std::span<const IDeviceFamily* const> Families();

// The family that upgrades the devices of `protocol`; the maker's when none claims it.
const IDeviceFamily& FamilyFor(DeviceProtocol protocol);
