#include <algorithm>

#include "base/result_codes.h"
#include "families/maker/maker_family.h"
#include "web/address_entry_query.h"

int MakerFamily::AskAtAddress(const AddressAsk& ask, CIPCamInfo& record) const {
    AddressQueryLimits limits;
    limits.ConnectTimeoutMs = ask.ConnectTimeoutMs;
    limits.Cancelled = ask.Cancelled;
    limits.Budget = std::max(std::chrono::milliseconds(1),
                             std::chrono::duration_cast<std::chrono::milliseconds>(
                                 ask.Deadline - std::chrono::steady_clock::now()));
    AddressedDevice device;
    const int result = QueryDeviceByAddress(ask.Scheme, ask.Host, ask.Port, ask.User, ask.Password,
                                            device, limits);
    // A system list refused for the credentials (401) is a wrong password too.
    if (result == rc::kHttpUnauthorized) return rc::kLoginRefused;
    if (result != rc::kOk) return result;
    record = CIPCamInfo();
    record.Protocol = DeviceProtocol::Maker;
    record.DeviceId = device.Mac;
    record.MacAddress = device.Mac;
    record.DeviceName = device.HostName;
    record.ModelName = device.Model;
    record.FirmwareVersion = device.FirmwareVersion;
    record.HostAddress = device.Host;
    record.HttpFlag = 0;
    record.HttpPort = ask.Port;
    record.UserName = ask.User;
    record.Password = ask.Password;
    record.LoginOk = 1;
    return rc::kOk;
}
