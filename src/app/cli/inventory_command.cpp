#include "app/cli/inventory_command.h"

#include <cstdio>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_session.h"
#include "app/cli/json_line.h"
#include "app/cli/terminal.h"
#include "base/clock.h"
#include "base/text.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "history/history_file.h"
#include "history/site_inventory.h"
#include "history/upgrade_history.h"
#include "registry/camera_control.h"
#include "services/core_services.h"
#include "settings/settings.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli inventory [--format csv|html|json] [--interface NAME]...\n"
    "                               [--address HOST[:PORT]]... [--range RANGE[:PORT]]...\n"
    "                               [--password P] [--storage DIR] [--history FILE]\n"
    "\n"
    "Searches as `strelvane-cli search` does, checks every device's log-in (user \"admin\",\n"
    "password P or \"vqmtz\") and prints one line per device of both families: name,\n"
    "maker, model, MAC address, serial number, address, firmware version, the newest\n"
    "version the store holds for its model (\"not known\" for ONVIF cameras), its state\n"
    "(\"up to date\", \"newer available\", or \"not checked\" when its log-in failed) and\n"
    "its last upgrade outcome and date from the upgrade history.\n"
    "\n"
    "--format F      csv (default): for spreadsheets, cells safe against formulas; html: one\n"
    "                self-contained page opening with a summary, to print; json: one line\n"
    "                per device with the keys DeviceName, VendorName, ModelName, MacAddress,\n"
    "                SerialNumber, Address (host:port), FirmwareVersion, NewestInStore,\n"
    "                State, LastOutcome and LastUpgrade\n"
    "--storage DIR   the firmware store to compare with instead of the Storage setting\n"
    "--history FILE  read this upgrade history instead of the user's\n"
    "--interface, --address, --range, --password: as for search.\n"
    "\n"
    "The summary (\"38 devices: 31 up to date, 5 with newer firmware, 2 not checked\") goes\n"
    "to standard error for csv and json. SIGINT or SIGTERM ends the command at once.\n";

std::string JsonOf(const InventoryRow& r) {
    return JsonLine()
        .Add("DeviceName", r.Name)
        .Add("VendorName", r.Maker)
        .Add("ModelName", r.Model)
        .Add("MacAddress", r.Mac)
        .Add("SerialNumber", r.Serial)
        .Add("Address", r.Address)
        .Add("FirmwareVersion", r.Version)
        .Add("NewestInStore", r.Newest)
        .Add("State", InventoryStateWord(r.State))
        .Add("LastOutcome", r.LastOutcome)
        .Add("LastUpgrade", r.LastTime ? LocalTimeText(r.LastTime) : "")
        .Text();
}

int Interrupted() {
    PrintError("strelvane-cli inventory: interrupted");
    return kExitFailed;
}

}  // namespace

int RunInventory(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(args,
                                 {{"--interface", OptionKind::Multi},
                                  {"--password", OptionKind::Single},
                                  {"--address", OptionKind::Multi},
                                  {"--range", OptionKind::Multi},
                                  {"--format", OptionKind::Single},
                                  {"--storage", OptionKind::Single},
                                  {"--history", OptionKind::Single},
                                  {"--help", OptionKind::Flag}},
                                 error);
    if (!parsed) return BadArguments("inventory", error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!parsed->Positional().empty()) {
        return BadArguments("inventory", "unexpected argument '" + parsed->Positional()[0] + "'");
    }
    const std::string format = parsed->Value("--format", "csv");
    if (format != "csv" && format != "html" && format != "json") {
        return BadArguments("inventory", "--format is csv, html or json");
    }
    const std::vector<std::string> interfaces = parsed->Values("--interface");
    if (const std::string unknown = UnknownInterface(interfaces); !unknown.empty()) {
        return BadArguments("inventory", unknown);
    }
    if (const std::string bad = BadDeviceAddress(parsed->Values("--address")); !bad.empty()) {
        return BadArguments("inventory", bad);
    }
    std::vector<AddressRange> ranges;
    if (!ParseAddressRanges(parsed->Values("--range"), ranges, error)) {
        return BadArguments("inventory", error);
    }

    const CSettings settings;
    std::string storage = parsed->Value("--storage");
    if (storage.empty()) storage = ResolveStorageFolder(settings);
    // Only read: a store that is being changed is read as firmware.xml stands.
    CFirmwareCatalog catalog(storage, "", [] { return false; });
    if (!catalog.ReadLocalCatalog()) {
        PrintError("strelvane-cli inventory: cannot read " + catalog.CatalogPath());
        return kExitFailed;
    }
    const std::string historyPath = parsed->Value("--history", DefaultHistoryFile());
    std::string problem;
    const std::vector<UpgradeHistoryRecord> history = ReadHistory(historyPath, nullptr, &problem);
    if (!problem.empty()) {
        PrintError("strelvane-cli inventory: cannot read " + historyPath + ": " + problem);
        return kExitFailed;
    }

    // Only a search: no upgrade, no store.
    const Clock clock;
    CCoreServices services(clock, {});
    CCameraTable& table = services.Table();
    CCameraControl& control = services.Control();
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
    const std::vector<std::string> keys = table.Keys();
    CheckDevices(table, keys, password);
    if (stopped()) return Interrupted();
    std::vector<CIPCamInfo> devices;
    for (const std::string& key : keys) {
        if (std::optional<CIPCamInfo> record = table.Find(key))
            devices.push_back(std::move(*record));
    }

    const std::vector<InventoryRow> rows = BuildInventory(devices, catalog, history);
    std::string text;
    if (format == "html") {
        text = InventoryHtml(rows, LocalTimeText(WallClockNow()));
    } else if (format == "csv") {
        text = InventoryCsv(rows);
    } else {
        for (const InventoryRow& r : rows) text += JsonOf(r) + "\n";
    }
    if (format != "html") PrintError(InventorySummary(rows));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}
