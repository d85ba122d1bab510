#include "base/http_url.h"
#include "base/result_codes.h"
#include "base/trace.h"
#include "families/onvif/onvif_family.h"
#include "web/onvif_identification.h"

namespace {

constexpr const char* kDeviceServicePath = "/onvif/device_service";
constexpr int kDefaultHttpPort = 80;
// Time-out of each request once a camera took the connection: as the maker's query.
constexpr int kRequestTimeoutMs = 2000;

}  // namespace

int OnvifFamily::AskAtAddress(const AddressAsk& ask, CIPCamInfo& record) const {
    // The device service where the technician pointed, then at the standard's port.
    std::vector<std::string> addresses;
    if (!ask.PortSilent) {
        addresses.push_back(HttpUrl{ask.Scheme, ask.Host, ask.Port, kDeviceServicePath}.Text());
    }
    if (ask.Port != kDefaultHttpPort || ask.Scheme != "http") {
        addresses.push_back(HttpUrl{"http", ask.Host, kDefaultHttpPort, kDeviceServicePath}.Text());
    }
    if (addresses.empty()) return rc::kCannotConnect;
    OnvifBounds bounds;
    bounds.Deadline = ask.Deadline;
    bounds.Cancelled = ask.Cancelled;
    bounds.ConnectTimeoutMs = ask.ConnectTimeoutMs;
    OnvifIdentity identity;
    const int result =
        IdentifyOnvifDevice(addresses, ask.User, ask.Password, kRequestTimeoutMs, identity, bounds);
    if (result != rc::kOk) return result;
    // Its MAC address becomes its key; a camera that keeps it to itself cannot be listed.
    if (identity.Mac.empty()) {
        Trace("ONVIF camera at %s names no MAC address; not added",
              identity.ServiceAddress.c_str());
        return rc::kFailed;
    }
    record = CIPCamInfo();
    record.Protocol = DeviceProtocol::Onvif;
    record.DeviceId = identity.Mac;
    record.ServiceAddresses = {identity.ServiceAddress};
    ApplyOnvifIdentity(identity, record);
    record.DeviceName = identity.Info.Model;
    record.UserName = ask.User;
    record.Password = ask.Password;
    record.LoginOk = 1;
    return rc::kOk;
}
