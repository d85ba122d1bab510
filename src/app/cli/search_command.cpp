#include "app/cli/search_command.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_session.h"
#include "app/cli/terminal.h"
#include "base/clock.h"
#include "registry/camera_control.h"
#include "registry/device_found_observer.h"
#include "services/core_services.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli search [--interface NAME]... [--address HOST[:PORT]]...\n"
    "                            [--range RANGE[:PORT]]... [--password P] [--json]\n"
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
    "               DeviceId is its MAC address.\n"
    "--range R      also ask every address of R who it is, as --address does for one:\n"
    "               A.B.C.D/N (the block's hosts), A.B.C.D-E.F.G.H or A.B.C.D-H, on\n"
    "               port 80 or the one given as R:PORT; 32 addresses at a time, at most\n"
    "               65536 (a /16) in all. A progress line shows on a terminal.\n"
    "\n"
    "SIGINT or SIGTERM ends the command at once, also while devices are asked.\n";

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A cell wider than this is cut: a device may name itself with any length.
constexpr int kCellCap = 32;
// A column narrower than this is not cut further to make room.
constexpr int kCellLeast = 6;

// The devices as an aligned table, for a person at a terminal.
void PrintTable(const std::vector<CIPCamInfo>& devices, bool withLogin) {
    const Paint paint{ColourWanted()};
    if (devices.empty()) {
        std::printf("%s\n", paint("no device found", kDim).c_str());
        return;
    }
    const std::vector<std::string> lines = DeviceTableLines(devices, withLogin, TerminalColumns());
    for (size_t r = 0; r < lines.size(); ++r) {
        std::string line = lines[r];
        if (r == 0) line = paint(line, kBold);
        if (r > 0 && withLogin && devices[r - 1].LoginOk != 1) line = paint(line, kRed);
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

int Interrupted() {
    std::fprintf(stderr, "strelvane-cli search: interrupted\n");
    return kExitFailed;
}

}  // namespace

std::vector<std::string> DeviceTableLines(const std::vector<CIPCamInfo>& devices, bool withLogin,
                                          int columns) {
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
    const size_t count = rows[0].size();
    std::vector<int> wanted(count, 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < count; ++c)
            wanted[c] = std::max(wanted[c], std::min(kCellCap, TextColumns(row[c])));
    }
    // One column spare: a line that fills the last one makes some terminals wrap.
    const int room = columns - 1 - 2 * static_cast<int>(count - 1);
    const std::vector<int> widths = ShareColumns(wanted, room, kCellLeast);
    std::vector<std::string> lines;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < count; ++c) {
            line += c + 1 < count ? PadColumns(row[c], widths[c]) + "  "
                                  : FitColumns(row[c], widths[c]);
        }
        lines.push_back(FitColumns(line, columns - 1));
    }
    return lines;
}

int RunSearch(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(args,
                                 {{"--interface", OptionKind::Multi},
                                  {"--password", OptionKind::Single},
                                  {"--address", OptionKind::Multi},
                                  {"--range", OptionKind::Multi},
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
    std::vector<AddressRange> ranges;
    if (!ParseAddressRanges(parsed->Values("--range"), ranges, error)) {
        return BadArguments("search", error);
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
    // Only a search: no upgrade, no store.
    const Clock clock;
    CCoreServices services(clock, {});
    CCameraTable& table = services.Table();
    CCameraControl& control = services.Control();
    control.Attach(printer);
    control.SetSearchInterfaces(interfaces);
    CatchStopSignals();
    const auto stopped = [] { return StopRequested(); };
    const std::string password = parsed->Value("--password", kDefaultDevicePassword);
    if (!AddDevicesByAddress(control, parsed->Values("--address"), password, stopped) ||
        !ScanAddressRanges(control, ranges, password, stopped)) {
        return Interrupted();
    }
    SearchToEnd(control, stopped);
    if (stopped()) return Interrupted();
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
