#include "web/onvif_identification.h"

#include <algorithm>

#include "base/http_url.h"
#include "base/result_codes.h"
#include "base/text.h"

int IdentifyOnvifDevice(const std::vector<std::string>& addresses, const std::string& user,
                        const std::string& password, int timeoutMs, OnvifIdentity& out,
                        const OnvifBounds& bounds) {
    COnvifSession session(addresses, user, password, timeoutMs);
    session.Bound(bounds);
    // Without the clock a token would be refused by a device whose clock is far off;
    // a device that keeps its clock to logged-in users still takes Digest.
    const int clock = session.MeasureClock();
    if (clock != rc::kOk && clock != rc::kLoginRefused && clock != rc::kFailed &&
        clock != rc::kHttpNotFound) {
        return clock;  // no address answered at all
    }
    const int info = GetDeviceInformation(session, out.Info);
    if (info != rc::kOk) return info;
    // A device that keeps its MAC address to itself is still identified.
    if (GetMacAddress(session, out.Mac) != rc::kOk) out.Mac.clear();
    out.ServiceAddress = session.Address();
    out.Auth = session.Auth();
    out.ClockOffsetSeconds = session.ClockOffsetSeconds();
    return rc::kOk;
}

std::string OnvifModelName(const std::string& manufacturer, const std::string& model) {
    if (manufacturer.empty() || StartsWith(ToLowerAscii(model), ToLowerAscii(manufacturer))) {
        return model;
    }
    return manufacturer + " " + model;
}

bool SetRecordAddress(const std::string& serviceAddress, CIPCamInfo& record) {
    const std::optional<HttpUrl> url = ParseHttpUrl(serviceAddress);
    if (!url) return false;
    record.HostAddress = url->Host;
    record.HttpsFlag = url->Https() ? 1 : 0;
    (url->Https() ? record.HttpsPort : record.HttpPort) = url->Port;
    return true;
}

void ApplyOnvifIdentity(const OnvifIdentity& identity, CIPCamInfo& record) {
    record.VendorName = identity.Info.Manufacturer;
    record.ModelName = OnvifModelName(identity.Info.Manufacturer, identity.Info.Model);
    record.ProductModel = identity.Info.Model;
    record.FirmwareVersion = identity.Info.FirmwareVersion;
    record.SerialNumber = identity.Info.SerialNumber;
    if (!identity.Mac.empty()) record.MacAddress = identity.Mac;
    if (SetRecordAddress(identity.ServiceAddress, record)) {
        std::erase(record.ServiceAddresses, identity.ServiceAddress);
        record.ServiceAddresses.insert(record.ServiceAddresses.begin(), identity.ServiceAddress);
    }
}
