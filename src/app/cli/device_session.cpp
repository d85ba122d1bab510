#include "app/cli/device_session.h"

#include <net/if.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "app/cli/json_line.h"

namespace {

class OutcomeCollector final : public ICredentialCheckObserver {
public:
    void CredentialCheckEnded(const std::string& deviceId, CheckOutcome outcome) override {
        std::lock_guard lock(lock_);
        outcomes_[deviceId] = outcome;
    }
    std::map<std::string, CheckOutcome> Outcomes() {
        std::lock_guard lock(lock_);
        return outcomes_;
    }

private:
    std::mutex lock_;
    std::map<std::string, CheckOutcome> outcomes_;
};

}  // namespace

std::string UnknownInterface(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (::if_nametoindex(name.c_str()) == 0) return "no network interface named '" + name + "'";
    }
    return std::string();
}

void SearchToEnd(CCameraControl& control, const std::function<bool()>& stopped) {
    control.StartSearch();
    while (control.IsSearching() && !stopped()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::map<std::string, CheckOutcome> CheckDevices(CCameraTable& table,
                                                 const std::vector<std::string>& keys,
                                                 const std::string& password) {
    OutcomeCollector collector;
    {
        CCredentialChecks checks(table, collector);
        for (const std::string& key : keys) {
            table.Modify(key, [&](CIPCamInfo& r) {
                r.UserName = kDeviceUser;
                r.Password = password;
            });
            checks.Start(key);
        }
        checks.WaitAll();
    }
    return collector.Outcomes();
}

std::string DeviceLine(const CIPCamInfo& r) {
    return JsonLine()
        .Add("DeviceId", r.DeviceId)
        .Add("DeviceName", r.DeviceName)
        .Add("ModelName", r.ModelName)
        .Add("VendorName", r.VendorName)
        .Add("HostAddress", r.HostAddress)
        .Add("HttpPort", r.HttpPort)
        .Add("HttpsPort", r.HttpsPort)
        .Add("FirmwareVersion", r.FirmwareVersion)
        .Add("LoginOk", r.LoginOk == 1)
        .Text();
}
