#include "app/cli/search_command.h"

#include <cstdio>
#include <mutex>
#include <set>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_session.h"
#include "registry/camera_control.h"
#include "registry/device_found_observer.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli search [--interface NAME]... [--address HOST[:PORT]]...\n"
    "                            [--password P]\n"
    "\n"
    "Sends the multicast discovery request out of every usable network adapter (or only\n"
    "the named ones) and prints one JSON line per device found, with the keys DeviceId,\n"
    "DeviceName, ModelName, VendorName, HostAddress, HttpPort, HttpsPort, FirmwareVersion\n"
    "and LoginOk. Ends one second after the last reply.\n"
    "\n"
    "--password P   first check every device's log-in (user \"admin\", password P), which\n"
    "               fills FirmwareVersion and LoginOk; the lines follow once every check\n"
    "               has ended.\n"
    "--address A    also list the device at HOST or HOST:PORT (\"[IPV6]:PORT\"; port 80\n"
    "               when not given), which multicast may not reach: it is asked who it\n"
    "               is and logged in to (user \"admin\", password P or \"vqmtz\"); its\n"
    "               DeviceId is its MAC address.\n";

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int RunSearch(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(args,
                                 {{"--interface", OptionKind::Multi},
                                  {"--password", OptionKind::Single},
                                  {"--address", OptionKind::Multi},
                                  {"--help", OptionKind::Flag}},
                                 error);
    if (!parsed) return BadArguments("search", error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!parsed->Positional().empty()) {
        return BadArguments("search", "unexpected argument '" + parsed->Positional()[0] + "'");
    }
    const std::vector<std::string> interfaces = parsed->Values("--interface");
    if (const std::string unknown = UnknownInterface(interfaces); !unknown.empty()) {
        return BadArguments("search", unknown);
    }
    if (const std::string bad = BadDeviceAddress(parsed->Values("--address")); !bad.empty()) {
        return BadArguments("search", bad);
    }
    const bool checkLogins = parsed->Has("--password");

    // Without log-in checks each device is printed once, the first time it reports.
    std::mutex printLock;
    std::set<std::string> printed;
    DeviceFoundObserver printer([&](const CIPCamInfo& r) {
        if (checkLogins) return;
        std::lock_guard lock(printLock);
        if (printed.insert(r.DeviceId).second) PrintLine(DeviceLine(r));
    });
    CCameraTable table;
    CCameraControl control(table, nullptr);
    control.Attach(printer);
    control.SetSearchInterfaces(interfaces);
    AddDevicesByAddress(control, parsed->Values("--address"),
                        parsed->Value("--password", kDefaultDevicePassword));
    SearchToEnd(control, [] { return false; });
    if (!checkLogins) return kExitOk;

    const std::vector<std::string> keys = table.Keys();
    CheckDevices(table, keys, parsed->Value("--password"));
    for (const std::string& key : keys) {
        if (std::optional<CIPCamInfo> record = table.Find(key)) PrintLine(DeviceLine(*record));
    }
    return kExitOk;
}
