#include "families/onvif/onvif_upgrade_steps.h"

#include <algorithm>

#include "base/http_url.h"
#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "device/mac_key.h"
#include "web/onvif_identification.h"

std::vector<std::string> CameraServiceAddresses(const std::vector<std::string>& known,
                                                const std::string& scheme, const std::string& host,
                                                int port) {
    HttpUrl current{scheme, host, port, "/onvif/device_service"};
    if (!known.empty()) {
        if (std::optional<HttpUrl> first = ParseHttpUrl(known.front())) current.Path = first->Path;
    }
    std::vector<std::string> addresses = known;
    std::erase(addresses, current.Text());
    addresses.insert(addresses.begin(), current.Text());
    return addresses;
}

int PrepareOnvifUpgrade(COnvifSession& session, std::string& versionBefore,
                        OnvifUpgradeTicket& ticket) {
    OnvifDeviceInfo info;
    int result = GetDeviceInformation(session, info);
    if (result != rc::kOk) return result;
    versionBefore = info.FirmwareVersion;
    bool http = false;
    result = GetHttpFirmwareUpgrade(session, http);
    if (result != rc::kOk) return result;
    if (!http) return rc::kNoHttpUpgrade;
    return StartFirmwareUpgrade(session, ticket);
}

int LookAtCamera(COnvifSession& session, const CameraIdentity& expected, ReturnWatch& watch,
                 bool& foreign) {
    foreign = false;
    if (!expected.Mac.empty()) {
        std::string named;
        const int asked = GetMacAddress(session, named);
        if (asked == rc::kOk && !SameMac(named, expected.Mac)) {
            Trace("ONVIF %s names MAC %s, not %s: not the camera", session.Address().c_str(),
                  named.c_str(), expected.Mac.c_str());
            watch.Unanswered();
            foreign = true;
            return rc::kNotSeenAgain;
        }
        if (asked != rc::kOk) {
            // Present (it answered) or away; its version counts only after its MAC.
            session.LastAnswered() ? watch.Answered(std::string()) : watch.Unanswered();
            return asked;
        }
    }
    OnvifDeviceInfo info;
    const int result = GetDeviceInformation(session, info);
    if (result == rc::kOk && !expected.Model.empty() &&
        !EqualsNoCase(OnvifModelName(info.Manufacturer, info.Model), expected.Model)) {
        Trace("ONVIF %s is a %s, not a %s: not the camera", session.Address().c_str(),
              info.Model.c_str(), expected.Model.c_str());
        watch.Unanswered();
        foreign = true;
        return rc::kNotSeenAgain;
    }
    if (result == rc::kOk) {
        watch.Answered(info.FirmwareVersion);
    } else if (session.LastAnswered()) {
        // It answered, if not with its version (it refused, or is still starting): it is there.
        watch.Answered(std::string());
    } else {
        watch.Unanswered();
    }
    return result;
}
