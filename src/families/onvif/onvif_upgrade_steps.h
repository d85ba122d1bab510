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

// Who the camera that comes back must prove to be: the MAC its log-in named (empty: it
// named none), and, when it answers at another address than it was upgraded at, its
// model ("maker model" as listed; empty: any).
struct CameraIdentity {
    std::string Mac;
    std::string Model;
};

// One look at the camera through its device service, noted in `watch`: the version it
// names once it named `expected`'s MAC (and model), or an answer without one (it
// refused, or is not ready), or no answer at all (it is away; so is a device naming
// another MAC or model: whoever answers there is not the camera, and `foreign` is set;
// the look's code is then -10). The code of the look.
int LookAtCamera(COnvifSession& session, const CameraIdentity& expected, ReturnWatch& watch,
                 bool& foreign);
