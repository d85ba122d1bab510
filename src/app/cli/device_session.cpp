#include "app/cli/device_session.h"

#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/cli/json_line.h"
#include "app/cli/terminal.h"

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

bool ParseDeviceAddress(const std::string& text, std::string& host, int& port, std::string& error) {
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            error = "no ']' in address '" + text + "'";
            return false;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            error = "bad address '" + text + "'";
            return false;
        }
        if (!rest.empty()) portText = rest.substr(1);
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        host = text.substr(0, text.find(':'));
        portText = text.substr(text.find(':') + 1);
    } else {
        host = text;  // a host name, an IPv4 address or a bare IPv6 literal
    }
    if (host.empty()) {
        error = "no host in address '" + text + "'";
        return false;
    }
    port = 80;
    if (!portText.empty() || text.back() == ':') {
        const bool digits = !portText.empty() && portText.size() <= 5 &&
                            std::all_of(portText.begin(), portText.end(), ::isdigit);
        port = digits ? std::stoi(portText) : 0;
        if (port < 1 || port > 65535) {
            error = "bad port in address '" + text + "'";
            return false;
        }
    }
    return true;
}

std::string BadDeviceAddress(const std::vector<std::string>& texts) {
    std::string host;
    int port = 0;
    std::string error;
    for (const std::string& text : texts) {
        if (!ParseDeviceAddress(text, host, port, error)) return error;
    }
    return std::string();
}

bool AddDevicesByAddress(CCameraControl& control, const std::vector<std::string>& addresses,
                         const std::string& password, const std::function<bool()>& stopped) {
    AddressQueryLimits limits;
    limits.Cancelled = stopped;
    for (const std::string& text : addresses) {
        std::string host;
        int port = 0;
        std::string error;
        if (!ParseDeviceAddress(text, host, port, error)) continue;
        const AddressEntryResult result =
            control.AddDeviceByAddress("http", host, port, kDeviceUser, password, limits);
        if (result == AddressEntryResult::Cancelled || stopped()) return false;
        if (result == AddressEntryResult::Added) continue;
        PrintError("device at " + text + " not added: " + AddressEntryMessage(result).Default);
    }
    return true;
}

bool ScanAddressRanges(CCameraControl& control, const std::vector<AddressRange>& ranges,
                       const std::string& password, const std::function<bool()>& stopped) {
    if (ranges.empty()) return true;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    std::shared_ptr<CAddressScan> scan =
        control.StartAddressScan({ranges, {}, kDeviceUser, password});
    CAddressScan::Progress progress = scan->Now();
    for (; !progress.Finished; progress = scan->Now()) {
        if (stopped()) scan->Cancel();
        if (terminal) {
            std::fprintf(stderr, "\rasking addresses: %llu of %llu, %d devices found\x1b[K",
                         static_cast<unsigned long long>(progress.Asked),
                         static_cast<unsigned long long>(progress.Total), progress.Found());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (terminal) std::fputs("\r\x1b[K", stderr);
    std::fprintf(stderr,
                 "address ranges: %llu of %llu addresses asked, %d devices added, %d listed "
                 "already, %d refused the password\n",
                 static_cast<unsigned long long>(progress.Asked),
                 static_cast<unsigned long long>(progress.Total), progress.Added,
                 progress.AlreadyListed, progress.Refused);
    return !progress.Cancelled;
}

void SearchToEnd(CCameraControl& control, const std::function<bool()>& stopped) {
    control.StartSearch();
    while (control.IsSearching() && !stopped()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (control.ListFull()) {
        PrintError("the device list is full at " + std::to_string(CCameraTable::kMaxDevices) +
                   " devices; further devices found are not listed");
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
    JsonLine line;
    line.Add("DeviceId", r.DeviceId)
        .Add("DeviceName", r.DeviceName)
        .Add("ModelName", r.ModelName)
        .Add("VendorName", r.VendorName)
        .Add("HostAddress", r.HostAddress)
        .Add("HttpPort", r.HttpPort)
        .Add("HttpsPort", r.HttpsPort)
        .Add("FirmwareVersion", r.FirmwareVersion)
        .Add("LoginOk", r.LoginOk == 1);
    // A device whose log-in identifies it names its protocol and what identified it.
    if (FactsOf(r.Protocol).LoginIdentifies) {
        line.Add("Protocol", FactsOf(r.Protocol).Name)
            .Add("MacAddress", r.MacAddress)
            .Add("SerialNumber", r.SerialNumber)
            .Add("ServiceAddress",
                 r.ServiceAddresses.empty() ? std::string() : r.ServiceAddresses.front());
    }
    return line.Text();
}
