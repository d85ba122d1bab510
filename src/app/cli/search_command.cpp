#include "app/cli/search_command.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_session.h"
#include "app/cli/terminal.h"
#include "registry/camera_control.h"
#include "registry/device_found_observer.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli search [--interface NAME]... [--address HOST[:PORT]]...\n"
    "                            [--password P] [--json]\n"
    "\n"
    "Sends the multicast discovery request, and a WS-Discovery probe for ONVIF cameras of\n"
    "any maker, out of every usable network adapter (or only the named ones). On a\n"
    "terminal it shows the devices found as a table once the search has ended. Through a\n"
    "pipe, or with --json, it prints one JSON line per device found, with the keys\n"
    "DeviceId, DeviceName, ModelName, VendorName, HostAddress, HttpPort, HttpsPort,\n"
    "FirmwareVersion and LoginOk; an ONVIF camera's line adds \"Protocol\":\"onvif\",\n"
    "MacAddress, SerialNumber and ServiceAddress. An ONVIF camera's DeviceId is its\n"
    "endpoint reference (\"urn:uuid:...\"); its model and version are known once its\n"
    "log-in is checked. Ends one second after the last reply.\n"
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

// The devices as an aligned table, for a person at a terminal.
void PrintTable(const std::vector<CIPCamInfo>& devices, bool withLogin) {
    const Paint paint{ColourWanted()};
    if (devices.empty()) {
        std::printf("%s\n", paint("no device found", kDim).c_str());
        return;
    }
    std::vector<std::vector<std::string>> rows = {{"ID", "NAME", "MODEL", "ADDRESS"}};
    if (withLogin) {
        rows[0].push_back("FIRMWARE");
        rows[0].push_back("LOG-IN");
    }
    for (const CIPCamInfo& r : devices) {
        std::vector<std::string> row = {
            Printable(r.DeviceId), Printable(r.DeviceName), Printable(r.ModelName),
            Printable(r.HostAddress) + ":" + std::to_string(r.GetPort())};
        if (withLogin) {
            row.push_back(Printable(r.FirmwareVersion));
            row.push_back(r.LoginOk == 1 ? "ok" : "refused");
        }
        rows.push_back(std::move(row));
    }
    std::vector<int> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], TextColumns(row[c]));
    }
    const int columns = TerminalColumns() - 1;
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (size_t c = 0; c < rows[r].size(); ++c) {
            line += c + 1 < rows[r].size() ? PadColumns(rows[r][c], widths[c]) + "  " : rows[r][c];
        }
        line = FitColumns(line, columns);
        if (r == 0) line = paint(line, kBold);
        if (r > 0 && withLogin && devices[r - 1].LoginOk != 1) line = paint(line, kRed);
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int RunSearch(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(args,
                                 {{"--interface", OptionKind::Multi},
                                  {"--password", OptionKind::Single},
                                  {"--address", OptionKind::Multi},
                                  {"--json", OptionKind::Flag},
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
    const bool tableView = UseTerminalView(parsed->Has("--json"));

    // Without log-in checks each device is printed once, the first time it reports.
    std::mutex printLock;
    std::set<std::string> printed;
    DeviceFoundObserver printer([&](const CIPCamInfo& r) {
        if (checkLogins || tableView) return;
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
    if (!checkLogins && !tableView) return kExitOk;

    const std::vector<std::string> keys = table.Keys();
    if (checkLogins) CheckDevices(table, keys, parsed->Value("--password"));
    std::vector<CIPCamInfo> devices;
    for (const std::string& key : keys) {
        if (std::optional<CIPCamInfo> record = table.Find(key))
            devices.push_back(std::move(*record));
    }
    if (tableView) {
        PrintTable(devices, checkLogins);
    } else {
        for (const CIPCamInfo& record : devices) PrintLine(DeviceLine(record));
    }
    return kExitOk;
}
