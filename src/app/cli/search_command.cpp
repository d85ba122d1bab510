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
#include "registry/device_found_observer.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli search [--interface NAME]...\n"
    "\n"
    "Sends the multicast discovery request out of every usable network adapter (or only\n"
    "the named ones) and prints one JSON line per device found, with the keys DeviceId,\n"
    "DeviceName, ModelName, VendorName, HostAddress, HttpPort, HttpsPort, FirmwareVersion\n"
    "and LoginOk. Ends one second after the last reply.\n";

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

    // Each device once, the first time it reports itself.
    std::mutex printLock;
    std::set<std::string> printed;
    DeviceFoundObserver printer([&](const CIPCamInfo& r) {
        std::lock_guard lock(printLock);
        if (!printed.insert(r.DeviceId).second) return;
        std::printf("%s\n", DeviceLine(r).c_str());
        std::fflush(stdout);
    });
    CCameraTable table;
    CCameraControl control(table, nullptr);
    control.Attach(printer);
    control.SetSearchInterfaces(interfaces);
    control.StartSearch();
    while (control.IsSearching()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return kExitOk;
}
