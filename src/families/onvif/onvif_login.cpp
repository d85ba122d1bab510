#include "families/onvif/onvif_login.h"

#include "base/result_codes.h"
#include "device/mac_key.h"
#include "web/onvif_device.h"
#include "web/onvif_identification.h"
#include "web/onvif_session.h"

namespace {

constexpr int kCheckTimeoutMs = 2000;

}  // namespace

CheckOutcome CheckOnvifLogin(CIPCamInfo& record) {
    // A password typed into the row that is refused shows as such, as for the NVRs.
    const bool typed = record.NvrLoginPending == 1;
    record.NvrLoginPending = 0;
    OnvifIdentity identity;
    const int result = IdentifyOnvifDevice(record.ServiceAddresses, record.UserName,
                                           record.Password, kCheckTimeoutMs, identity);
    record.LoginOk = result == rc::kOk ? 1 : 0;
    if (result == rc::kOk) {
        ApplyOnvifIdentity(identity, record);
        return CheckOutcome::Passed;
    }
    if (result != rc::kLoginRefused) return CheckOutcome::Unreachable;
    return typed ? CheckOutcome::NvrLoginFailed : CheckOutcome::Failed;
}

std::string OnvifVersionNamed(const std::vector<std::string>& services, const std::string& user,
                              const std::string& password, const std::string& mac, int timeoutMs) {
    COnvifSession session(services, user, password, timeoutMs);
    std::string named;
    if (GetMacAddress(session, named) != rc::kOk || !SameMac(named, mac)) return {};
    OnvifDeviceInfo info;
    if (GetDeviceInformation(session, info) != rc::kOk) return {};
    return info.FirmwareVersion;
}
