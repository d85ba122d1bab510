#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "base/clock.h"
#include "upgrade/return_watch.h"
#include "web/onvif_device.h"
#include "web/onvif_session.h"

// The steps of an ONVIF camera's firmware upgrade that the upgrade manager's worker and
// the schedule's share.

// Cameras name their ExpectedDownTime as an estimate; this much more is waited before a
// camera counts as not back.
constexpr int kOnvifReturnMarginSeconds = 120;

// How long a camera may be away after its upload, as far as a window is concerned, in
// seconds of the Clock. It names its ExpectedDownTime only once its upgrade has begun,
// when the window has already let it start: until then five minutes are assumed, with
// the margin.
int64_t OnvifWaitSeconds();

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

// A camera back (seen through the search, or answering without its version) is asked
// for its version a few times, a second apart (on `clock`), until it names one.
// `lastLook` receives the last look's code.
void ReadReturnedVersion(COnvifSession& session, ReturnWatch& watch, const Clock& clock,
                         std::stop_token stop, int& lastLook);

// The result once the wait for the camera is over: -10 when it did not restart and
// come back; the last look's code when it came back but named no version (-304: it
// no longer takes the credentials); -408 when it names the version it ran before; else 0.
int OnvifReturnOutcome(const ReturnWatch& watch, int lastLook);
