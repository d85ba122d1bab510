#include "schedule/entry_device.h"

#include "base/text.h"

CIPCamInfo EntryDevice(const CScheduleInfo& entry) {
    CIPCamInfo device;
    const uint32_t port = static_cast<uint32_t>(ParseDecimal(entry.Port));
    device.DeviceId = entry.MAC;
    device.MacAddress = entry.MAC;
    device.DeviceName = entry.Device;
    device.ModelName = entry.Model;
    device.HostAddress = entry.IP;
    device.HttpsFlag = entry.Https ? 1 : 0;
    (entry.Https ? device.HttpsPort : device.HttpPort) = port;
    device.UserName = entry.Account;
    device.Password = entry.Password;
    if (!entry.OnvifService.empty()) {
        device.Protocol = DeviceProtocol::Onvif;
        device.ServiceAddresses = {device.GetScheme() + "://" + entry.IP + ":" + entry.Port +
                                   entry.OnvifService};
    }
    return device;
}
