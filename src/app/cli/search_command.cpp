#include "app/cli/search_command.h"

#include <net/if.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/json_line.h"
#include "registry/camera_control.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli search [--interface NAME]...\n"
    "\n"
    "Sends the multicast discovery request out of every usable network adapter (or only\n"
    "the named ones) and prints one JSON line per device found, with the keys DeviceId,\n"
    "DeviceName, ModelName, VendorName, HostAddress, HttpPort, HttpsPort, FirmwareVersion\n"
    "and LoginOk. Ends one second after the last reply.\n";

// Prints each device once, the first time it reports itself.
class PrintingObserver final : public IRegistryObserver {
public:
    void DeviceFound(const CIPCamInfo& r) override {
        std::lock_guard lock(lock_);
        if (!printed_.insert(r.DeviceId).second) return;
        std::string line = JsonLine()
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
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    void Reset() override {}
    void DeviceDispatched(const CIPCamInfo&) override {}
    void DeviceStatus(const std::string&, int, int, int, int) override {}
    void Busy(bool) override {}
    void RunBegins() override {}
    void RunEnds() override {}
    void RefreshTexts() override {}

private:
    std::mutex lock_;
    std::set<std::string> printed_;
};

}  // namespace

int RunSearch(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(
        args, {{"--interface", OptionKind::Multi}, {"--help", OptionKind::Flag}}, error);
    if (!parsed) return BadArguments("search", error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!parsed->Positional().empty()) {
        return BadArguments("search", "unexpected argument '" + parsed->Positional()[0] + "'");
    }
    const std::vector<std::string> interfaces = parsed->Values("--interface");
    for (const std::string& name : interfaces) {
        if (::if_nametoindex(name.c_str()) == 0) {
            return BadArguments("search", "no network interface named '" + name + "'");
        }
    }

    CCameraTable table;
    PrintingObserver printer;
    CCameraControl control(table, nullptr);
    control.Attach(printer);
    control.SetSearchInterfaces(interfaces);
    control.StartSearch();
    while (control.IsSearching()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return kExitOk;
}
