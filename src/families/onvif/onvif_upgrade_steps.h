#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "base/clock.h"
#include "pipeline/return_watch.h"
#include "web/onvif_device.h"
#include "web/onvif_session.h"

// The steps of an ONVIF camera's firmware upgrade that the upgrade manager's worker and
// the schedule's share.

// Cameras name their ExpectedDownTime as an estimate; this much more is waited before a
// camera counts as not back.
constexpr int kOnvifReturnMarginSeconds = 120;

// The device service's addresses to try: the known ones, with the one at `host` and
// `port` under `scheme` (where the camera was last seen) first, on the path of the first
// known one ("/onvif/device_service" when none is known).
std::vector<std::string> CameraServiceAddresses(const std::vector<std::string>& known,
                                                const std::string& scheme, const std::string& host,
                                                int port);

// Asks the camera for its version (into `versionBefore`), whether it takes firmware over
// HTTP, and for the upload's ticket. 0; -701 when it takes none; the session's code.
int PrepareOnvifUpgrade(COnvifSession& session, std::string& versionBefore,
                        OnvifUpgradeTicket& ticket);

// One look at the camera through its device service, noted in `watch`: the version it
// names, or an answer without one (it refused, or is not ready), or no answer at all
// (it is away). The code of the look.
int LookAtCamera(COnvifSession& session, ReturnWatch& watch);
