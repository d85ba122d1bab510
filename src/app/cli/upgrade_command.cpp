#include "app/cli/upgrade_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "app/cli/batch_options.h"
#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_choice.h"
#include "app/cli/device_session.h"
#include "app/cli/history_warnings.h"
#include "app/cli/image_file_check.h"
#include "app/cli/in_flight_check.h"
#include "app/cli/json_line.h"
#include "app/cli/terminal.h"
#include "app/cli/upgrade_view.h"
#include "base/clock.h"
#include "base/result_codes.h"
#include "device/upgrade_progress.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "history/history_file.h"
#include "pipeline/image_file.h"
#include "registry/camera_control.h"
#include "services/core_services.h"
#include "settings/settings.h"
#include "upgrade/upgrade_manager.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli upgrade [--file IMAGE] [--camera-file IMAGE]\n"
    "                             (--all | --device ID...) [--password P]\n"
    "                             [--interface NAME]... [--address HOST[:PORT]]...\n"
    "                             [--range RANGE[:PORT]]...\n"
    "                             [--storage DIR] [--time-scale N] [--json]\n"
    "                             [--first-of-each-model] [--max-failures N]\n"
    "                             [--until HH:MM] [--watch-late MINUTES]\n"
    "\n"
    "Searches the network (every usable adapter, or only the named ones), checks the\n"
    "log-in of the devices to upgrade (user \"admin\", password P, default \"vqmtz\"),\n"
    "then upgrades them: with --file every device gets that image; otherwise each gets\n"
    "the images of the firmware store newer than its own firmware (store folder: DIR,\n"
    "else the Storage setting or the default store). ONVIF cameras of other makers,\n"
    "found by the same search, get the --camera-file image, else the --file image; never\n"
    "images of the store (without either they end with -703). At most 16 uploads run\n"
    "at once.\n"
    "\n"
    "On a terminal it shows one line per device with a progress bar, percent, time left\n"
    "and status, and a closing summary (colours unless NO_COLOR is set). Through a pipe,\n"
    "or with --json, it prints one JSON line per progress report until the run ends:\n"
    "  {\"DeviceId\",\"stage\",\"seconds\",\"percent\",\"code\",\"text\"}\n"
    "stage 0 waiting or running (seconds left), 1 ended before the upload, 2 upload\n"
    "ended, 3 uploading (percent sent), 32 final; code < 0 is a failure (-503: no image\n"
    "newer than the device's own; -10: the device did not restart and come back; -408:\n"
    "it came back with its old firmware; -406: it refused the image; -701: the camera\n"
    "takes no firmware over the network; -702: it could not install it; -601 to -603:\n"
    "not started, see below); text is what the upgrade page shows, except that a line\n"
    "before the final one never claims success: a stage 1 or 2 line names its failure,\n"
    "or has an empty text. The final line adds\n"
    "\"FirmwareVersion\": the version the device named after its upgrade (its own with\n"
    "-503; empty when none was read), and \"HostAddress\": where the device is now (a\n"
    "device back at another address, a new DHCP lease, is found there by its MAC).\n"
    "A closing summary goes to standard error, and so do the outcomes that the upgrade\n"
    "history could not keep (a full disk).\n"
    "\n"
    "--all            upgrade every device found\n"
    "--device ID      upgrade this device (repeatable); one that is not found is reported\n"
    "                 and the others are upgraded\n"
    "--address A      also take the device at HOST or HOST:PORT, which multicast may not\n"
    "                 reach (as `strelvane-cli search --address`); its ID is its MAC\n"
    "--range R        also take the devices that answer at the addresses of R (as\n"
    "                 `strelvane-cli search --range`)\n"
    "--file IMAGE     an image starting with its mark (QRBA, QRBE, QRBI, QRBO, QRBU) or\n"
    "                 one kept by the firmware store (size header, then the mark)\n"
    "--camera-file IMAGE\n"
    "                 the image for the ONVIF cameras, as their maker ships it\n"
    "--time-scale N   run the deliberate waits (reboot countdowns) N times faster\n";

constexpr const char* kUsageEnd =
    "\n"
    "SIGINT or SIGTERM stops every upgrade: one not yet uploading ends with -6, one whose\n"
    "device may be flashing or restarting with -11 (not confirmed). Such devices, and\n"
    "those the late watch still looked for, are looked at once by the next `upgrade` or\n"
    "`report` (with the next command's password), which amends the history with what it\n"
    "finds: back with new firmware, upgraded; with the old one from the store, -408.\n"
    "Exit status: 0 when every device was upgraded or already up to date, 1 when one\n"
    "failed or was not found, 2 for bad arguments.\n";

constexpr auto kPoll = std::chrono::milliseconds(50);

// Prints every progress report as a JSON line, or hands it to the terminal view when
// there is one; keeps each device's final code and tells when the run has ended.
class ProgressPrinter final : public IRegistryObserver {
public:
    explicit ProgressPrinter(UpgradeTerminalView* view) : view_(view) {}

    // Where the final lines read the devices' addresses; set before the first report.
    void ReadAddressesFrom(const CCameraTable& table) { table_ = &table; }

    void DeviceStatus(const std::string& deviceId, int stage, int seconds, int percent,
                      int code) override {
        DeviceFinished({deviceId, stage, seconds, percent, code, {}});
    }
    // Every report; the final one also names the firmware version read after the upgrade.
    void DeviceFinished(const UpgradeReport& r) override {
        const bool final = r.Stage == stage::kFinished;
        if (view_) {
            view_->Update(r.DeviceId, r.Stage, r.Seconds, r.Percent, r.Code, r.WindowEnd);
            std::lock_guard lock(lock_);
            if (final) Keep(r);
            return;
        }
        JsonLine line;
        line.Add("DeviceId", r.DeviceId)
            .Add("stage", r.Stage)
            .Add("seconds", r.Seconds)
            .Add("percent", r.Percent)
            .Add("code", r.Code)
            .Add("text", ProgressLineText(r, DefaultText));
        if (final) {
            line.Add("FirmwareVersion", r.FirmwareVersion);
            // Where the device is now: it may have come back at another address.
            const std::optional<CIPCamInfo> device = table_->FindStored(r.DeviceId);
            line.Add("HostAddress", device ? device->HostAddress : std::string());
        }
        std::lock_guard lock(lock_);
        std::printf("%s\n", line.Text().c_str());
        std::fflush(stdout);
        if (final) Keep(r);
    }
    void RunEnds() override {
        std::lock_guard lock(lock_);
        ended_ = true;
        changed_.notify_all();
    }
    void Reset() override {}
    void DeviceFound(const CIPCamInfo&) override {}
    void DeviceDispatched(const CIPCamInfo& record) override {
        if (view_) view_->AddDevice(record);
    }
    void Busy(bool) override {}
    void RunBegins() override {}
    void RefreshTexts() override {}

    // Waits up to `limit` for the run to end; true when it has.
    bool WaitForRunEnd(std::chrono::milliseconds limit) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, limit, [this] { return ended_; });
    }

    // How the devices ended: upgraded (a code of 0 or more), already up to date (-503),
    // failed (any other code, or no final report).
    struct Tally {
        int Upgraded = 0;
        int UpToDate = 0;
        int Failed = 0;
    };
    Tally Count(const std::vector<std::string>& devices) {
        std::lock_guard lock(lock_);
        Tally tally;
        for (const std::string& id : devices) {
            auto final = finals_.find(id);
            if (final == finals_.end()) {
                ++tally.Failed;
            } else if (final->second >= 0) {
                ++tally.Upgraded;
            } else if (final->second == rc::kNoNewerImage) {
                ++tally.UpToDate;
            } else {
                ++tally.Failed;
            }
        }
        return tally;
    }

private:
    // A device's first final code stands, but for a late return, which amends it.
    void Keep(const UpgradeReport& r) {
        if (r.Code == rc::kReturnedLate) {
            finals_[r.DeviceId] = r.Code;
        } else {
            finals_.emplace(r.DeviceId, r.Code);
        }
    }

    UpgradeTerminalView* const view_;
    const CCameraTable* table_ = nullptr;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::string, int> finals_;
    bool ended_ = false;
};

const char* OutcomeText(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::Passed:
            return "log-in passed";
        case CheckOutcome::Failed:
        case CheckOutcome::NvrLoginFailed:
            return "log-in refused";
        case CheckOutcome::Unreachable:
            return "cannot connect to the device";
    }
    return "";
}

int Fail(const std::string& message) {
    PrintError("strelvane-cli upgrade: " + message);
    return kExitFailed;
}

struct UpgradeOptions {
    std::string File;
    std::string CameraFile;
    bool All = false;
    std::vector<std::string> Devices;
    std::string Password = kDefaultDevicePassword;
    std::vector<std::string> Interfaces;
    std::vector<std::string> Addresses;
    std::vector<AddressRange> Ranges;
    std::string Storage;
    double TimeScale = 1.0;
    BatchOptions Batch;
};

// The options, checked before anything touches the network; an error message otherwise.
std::string ReadOptions(const CliArgs& args, UpgradeOptions& options) {
    if (!args.Positional().empty()) return "unexpected argument '" + args.Positional()[0] + "'";
    options.All = args.Has("--all");
    options.Devices = args.Values("--device");
    if (options.All == !options.Devices.empty()) return "give either --all or --device ID...";
    if (args.Has("--file")) {
        options.File = args.Value("--file");
        if (const std::string problem = ImageFileProblem(options.File); !problem.empty()) {
            return "Failed! Please check the firmware file. " + problem;
        }
        if (args.Has("--storage")) return "--file and --storage exclude each other";
    }
    if (args.Has("--camera-file")) {
        options.CameraFile = args.Value("--camera-file");
        if (const std::string problem = ImageFileProblem(options.CameraFile, false);
            !problem.empty()) {
            return "Failed! Please check the firmware file. " + problem;
        }
    }
    if (args.Has("--storage")) {
        options.Storage = args.Value("--storage");
        if (!std::filesystem::is_directory(options.Storage)) {
            return "no store folder '" + options.Storage + "'";
        }
    }
    if (args.Has("--password")) options.Password = args.Value("--password");
    if (args.Has("--time-scale")) {
        const std::string text = args.Value("--time-scale");
        char* end = nullptr;
        options.TimeScale = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(options.TimeScale) ||
            options.TimeScale <= 0) {
            return "--time-scale needs a positive number";
        }
    }
    options.Addresses = args.Values("--address");
    if (std::string bad = BadDeviceAddress(options.Addresses); !bad.empty()) return bad;
    if (std::string error; !ParseAddressRanges(args.Values("--range"), options.Ranges, error)) {
        return error;
    }
    if (std::string bad = ReadBatchOptions(args, options.Batch); !bad.empty()) return bad;
    options.Interfaces = args.Values("--interface");
    return UnknownInterface(options.Interfaces);
}

}  // namespace

int RunUpgrade(const std::vector<std::string>& args) {
    std::string error;
    std::vector<OptionSpec> specs = {
        {"--file", OptionKind::Single},     {"--camera-file", OptionKind::Single},
        {"--all", OptionKind::Flag},        {"--device", OptionKind::Multi},
        {"--password", OptionKind::Single}, {"--interface", OptionKind::Multi},
        {"--address", OptionKind::Multi},   {"--range", OptionKind::Multi},
        {"--storage", OptionKind::Single},  {"--time-scale", OptionKind::Single},
        {"--json", OptionKind::Flag},       {"--help", OptionKind::Flag}};
    for (OptionSpec& option : BatchOptionSpecs()) specs.push_back(std::move(option));
    auto parsed = CliArgs::Parse(args, specs, error);
    if (!parsed) return BadArguments("upgrade", error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        std::fputs(kBatchOptionsUsage, stdout);
        std::fputs(kUsageEnd, stdout);
        return kExitOk;
    }
    UpgradeOptions options;
    if (std::string problem = ReadOptions(*parsed, options); !problem.empty()) {
        return BadArguments("upgrade", problem);
    }

    CoreServiceOptions wiring;
    wiring.HistoryFile = DefaultHistoryFile();
    wiring.Upgrades = true;
    if (options.File.empty()) {
        const CSettings settings;
        const auto problem = settings.Problem();
        if (problem && options.Storage.empty()) return Fail(problem->Text());
        // Only what the store holds counts here: the server is never asked.
        wiring.StorageFolder =
            options.Storage.empty() ? ResolveStorageFolder(settings) : options.Storage;
    }
    if (options.Batch.WatchLateMinutes > 0) {
        wiring.LateWatchMs = int64_t{options.Batch.WatchLateMinutes} * 60 * 1000;
    }
    const Clock clock(options.TimeScale);
    std::unique_ptr<UpgradeTerminalView> view;
    if (UseTerminalView(parsed->Has("--json"))) {
        view = std::make_unique<UpgradeTerminalView>(stdout, ColourWanted(), TerminalColumns());
    }
    // Outlive the services that report to them.
    ProgressPrinter printer(view.get());
    HistoryWarnings historyWarnings;
    wiring.HistoryProblemHandler = historyWarnings.Handler();
    CCoreServices services(clock, std::move(wiring));
    if (CFirmwareCatalog* store = services.Catalog(); store && !store->ReadLocalCatalog()) {
        return Fail("cannot read " + store->CatalogPath());
    }

    CatchStopSignals();
    const auto stopped = [] { return StopRequested(); };
    ReviewCutShortUpgrades("upgrade", services.HistoryFile(), options.Password);
    CCameraTable& table = services.Table();
    CCameraControl& control = services.Control();
    CUpgradeManager& manager = *services.UpgradeManager();
    printer.ReadAddressesFrom(table);
    services.Attach(printer);
    control.SetSearchInterfaces(options.Interfaces);
    if (!AddDevicesByAddress(control, options.Addresses, options.Password, stopped) ||
        !ScanAddressRanges(control, options.Ranges, options.Password, stopped)) {
        return Fail("interrupted");
    }

    SearchToEnd(control, stopped);
    if (stopped()) return Fail("interrupted");
    std::vector<std::string> missing;
    std::vector<std::string> devices = ChooseDevices(table, options.All, options.Devices, missing);
    for (const std::string& id : missing) PrintError("device " + id + " not found");
    if (devices.empty()) return Fail("no device to upgrade");

    for (const auto& [id, outcome] : CheckDevices(table, devices, options.Password)) {
        PrintError("device " + id + ": " + OutcomeText(outcome));
    }
    // A log-in may have shown two of them to be one device.
    devices = ListedKeys(table, devices);
    for (const std::string& id : table.Keys()) {
        const bool chosen = std::find(devices.begin(), devices.end(), id) != devices.end();
        control.SetDeviceCredentials(id, kDeviceUser, options.Password, chosen ? 1 : 0);
    }
    if (!options.File.empty()) control.SetManualImage(options.File);
    if (!options.CameraFile.empty()) control.SetCameraImage(options.CameraFile);
    control.StartUpgrade(1, RunPolicy(options.Batch, clock.UnixSeconds()));

    while (!printer.WaitForRunEnd(kPoll)) {
        if (view) view->Refresh();
        if (!stopped()) continue;
        PrintError("strelvane-cli upgrade: interrupted; stopping every upgrade");
        // Every job ends with its final report, and with the last the run.
        manager.Stop();
        break;
    }
    // Devices that did not come back may yet: each is looked for until its watch ends.
    while (!stopped() && manager.LateWatching() > 0) {
        if (view) view->Refresh();
        std::this_thread::sleep_for(kPoll);
    }
    // The journal keeps them: the next command to start looks at them once.
    if (const int watched = manager.LateWatching(); stopped() && watched > 0) {
        PrintError("strelvane-cli upgrade: interrupted; " + std::to_string(watched) +
                   " device(s) still watched are looked at by the next upgrade or report");
    }
    // The workers probe through the control: they must be gone before it goes.
    manager.Stop();
    const ProgressPrinter::Tally tally = printer.Count(devices);
    if (view) {
        view->Finish(missing);
    } else {
        std::fprintf(stderr,
                     "strelvane-cli upgrade: %d upgraded, %d already up to date, %d failed, %d not "
                     "found\n",
                     tally.Upgraded, tally.UpToDate, tally.Failed,
                     static_cast<int>(missing.size()));
    }
    historyWarnings.Print("upgrade");
    return tally.Failed == 0 && missing.empty() ? kExitOk : kExitFailed;
}
