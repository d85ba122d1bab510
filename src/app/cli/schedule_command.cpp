#include "app/cli/schedule_command.h"

#include "app/cli/batch_options.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/device_session.h"
#include "app/cli/image_file_check.h"
#include "app/cli/in_flight_check.h"
#include "app/cli/json_line.h"
#include "app/cli/schedule_time_text.h"
#include "app/cli/terminal.h"
#include "base/clock.h"
#include "base/result_codes.h"
#include "base/text.h"
#include "base/time_of_day.h"
#include "base/trace.h"
#include "history/history_file.h"
#include "registry/camera_control.h"
#include "schedule/entry_device.h"
#include "schedule/schedule_file.h"
#include "schedule/schedule_list.h"
#include "schedule/schedule_runner.h"
#include "schedule/schedule_store.h"
#include "schedule/scheduler.h"
#include "services/core_services.h"
#include "settings/xdg_folders.h"

namespace {

namespace st = schedule_status;

constexpr const char* kUsage =
    "usage: strelvane-cli schedule list [--file PATH]\n"
    "       strelvane-cli schedule add --ip ADDRESS [--port N] [--https] --user NAME\n"
    "                                  --password TEXT --mac MAC --device NAME --model NAME\n"
    "                                  --version TEXT --image PATH --time WHEN [--until HH:MM]\n"
    "                                  [--onvif-service PATH] [--file PATH]\n"
    "       strelvane-cli schedule run [--file PATH] [--time-scale N] [--interface NAME]...\n"
    "                                  [--first-of-each-model] [--max-failures N]\n"
    "                                  [--watch-late MINUTES]\n"
    "\n"
    "list  one JSON line per entry, in file order: {\"no\",\"MAC\",\"IP\",\"Port\",\"Https\",\n"
    "      \"Account\",\"Device\",\"Model\",\"Version\",\"UpgradeTime\",\"time\",\"FWPath\",\n"
    "      \"status\",\"text\"} and \"Until\" for an entry with a window; passwords are\n"
    "      not shown.\n"
    "add   stores a scheduled upgrade of one device, waiting for its time, and prints it\n"
    "      as list does. Every option but --port and --https is needed; --image must be\n"
    "      a readable firmware image, --ip an IPv4 address or host name, --mac a MAC.\n"
    "      An entry for the same MAC (without regard to case) is replaced. With\n"
    "      --onvif-service the device is an ONVIF camera whose device service is at PATH\n"
    "      (\"/onvif/device_service\") on its address; its image is its maker's own.\n"
    "run   runs the scheduler in the foreground: an entry starts when its time has come\n"
    "      (up to 10 s late; later it is missed, status 0); the device at its address\n"
    "      must report its MAC, then takes the image and is waited for while it restarts\n"
    "      (an ONVIF camera: its ExpectedDownTime and two minutes; it must come back\n"
    "      naming another version).\n"
    "      Prints {\"MAC\",\"IP\",\"status\",\"text\"} per status change, with \"percent\"\n"
    "      while uploading, and ends when no entry is waiting, queued or running. SIGINT\n"
    "      or SIGTERM stops it: an upload in flight is finished first; the schedule is\n"
    "      saved. One scheduler runs a file at a time; entries added or changed by\n"
    "      other processes meanwhile are taken in, never overwritten.\n"
    "      Entries due in the same minute form one batch, guarded as an upgrade run:\n"
    "      --first-of-each-model and --max-failures as for upgrade (a refused entry ends\n"
    "      8 with the guard's text); --watch-late M looks for a device that did not come\n"
    "      back for M minutes more (back with its new firmware, its entry ends 5).\n"
    "      --interface NAME: a device that does not answer at its address after its image\n"
    "      is searched for on these adapters and found by its MAC at a new address (no\n"
    "      search without it).\n"
    "\n"
    "An entry left uploading or upgrading by a scheduler that ended while it ran is\n"
    "marked failed (8) when the file is next read. A file that cannot be read, is not\n"
    "well-formed or is not a schedule is never replaced; before a save drops entries or\n"
    "sections the program does not keep, the old file is kept as FILE.bak.\n"
    "\n"
    "--file PATH       the schedule file (default: Strelvane/fw_config.xml in the user's\n"
    "                  Documents folder)\n"
    "--time WHEN       seconds since 1970, +N seconds from now, or a local time\n"
    "                  \"YYYY-MM-DD HH:MM[:SS]\" (a T may stand for the blank)\n"
    "--until HH:MM     the end of the entry's window, local time (the first such moment\n"
    "                  from its time on): a run that would not finish by then is not\n"
    "                  started (status 10), judged by the image's size at the upload rate\n"
    "                  measured so far (or a cautious 2 Mbit/s) and the 7-minute wait\n"
    "--port N          the device's web port (default 80, or 443 with --https)\n"
    "--time-scale N    deliberate waits run N times faster: the scheduler's ticks, its\n"
    "                  pauses and the 7-minute wait for a restarting device (not network\n"
    "                  time-outs; planned times stay wall-clock times); at most 1000\n"
    "\n"
    "Status codes: 0 missed, 1 waiting, 2 queued, 3 uploading, 4 upgrading, 5 successful,\n"
    "6 user name or password refused, 7 firmware file refused, 8 other failure (also: another\n"
    "device at the address, or the device not back within 7 minutes), 9 firmware file lost,\n"
    "10 not started: it would not finish before the end of its window.\n"
    "\n"
    "Exit status: 0 success (run: every entry it handled ended successful), 1 failure\n"
    "(unreadable, foreign or unwritable file; run: another scheduler runs the file, an\n"
    "entry failed, was missed or lost its image, or the run was interrupted), 2 bad\n"
    "arguments.\n"
    "Trace lines go to $XDG_STATE_HOME/strelvane/strelvane.log.\n";

const char* const kAddOptions[] = {
    "--ip",    "--port",    "--https", "--user", "--password", "--mac",          "--device",
    "--model", "--version", "--image", "--time", "--until",    "--onvif-service"};

constexpr auto kPoll = std::chrono::milliseconds(20);

// Faster, and the one-second ticks would come faster than a tick's own work.
constexpr double kMostTimeScale = 1000;

int Bad(const std::string& message) { return BadArguments("schedule", message); }

int Fail(const std::string& message) {
    PrintError("strelvane-cli schedule: " + message);
    return kExitFailed;
}

void Print(const std::string& line) {
    static std::mutex out;
    std::lock_guard lock(out);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string StatusTextOf(const CScheduleInfo& e) { return StatusText(e, DefaultText); }

std::string EntryLine(int number, const CScheduleInfo& e) {
    JsonLine line;
    line.Add("no", number)
        .Add("MAC", e.MAC)
        .Add("IP", e.IP)
        .Add("Port", e.Port)
        .Add("Https", e.Https)
        .Add("Account", e.Account)
        .Add("Device", e.Device)
        .Add("Model", e.Model)
        .Add("Version", e.Version)
        .Add("UpgradeTime", e.UpgradeTime)
        .Add("time", LocalTimeText(e.UpgradeTime))
        .Add("FWPath", e.FWPath)
        .Add("status", e.Status)
        .Add("text", StatusTextOf(e));
    if (!e.Until.empty()) line.Add("Until", e.Until);
    if (!e.OnvifService.empty()) line.Add("OnvifService", e.OnvifService);
    return line.Text();
}

// Prints every status change of a run and keeps each entry's latest status.
class RunView : public IScheduleObserver {
public:
    void EntryProgress(uint64_t id, const CScheduleInfo& entry) override { Show(id, entry, false); }
    void EntryFinished(uint64_t id, const CScheduleInfo& entry) override { Show(id, entry, true); }

    // True when every entry this run changed ended successful.
    bool AllSucceeded() const {
        std::lock_guard lock(mutex_);
        for (const auto& [id, shown] : shown_) {
            if (shown.first != st::kSuccessful) return false;
        }
        return true;
    }

private:
    void Show(uint64_t id, const CScheduleInfo& entry, bool finished) {
        const int percent =
            entry.Status == st::kUploading ? UploadPercent(entry.TotalBytes, entry.SentBytes) : -1;
        {
            std::lock_guard lock(mutex_);
            auto [it, added] = shown_.try_emplace(id, entry.Status, percent);
            // Progress comes every second; only a change is worth a line.
            if (!added && !finished && it->second == std::make_pair(entry.Status, percent)) return;
            it->second = {entry.Status, percent};
        }
        JsonLine line;
        line.Add("MAC", entry.MAC).Add("IP", entry.IP).Add("status", entry.Status);
        line.Add("text", StatusTextOf(entry));
        if (percent >= 0) line.Add("percent", percent);
        Print(line.Text());
    }

    mutable std::mutex mutex_;
    std::map<uint64_t, std::pair<int, int>> shown_;  // status, percent (-1: none)
};

void UseTraceFile() {
    const std::string path = DefaultTraceFile();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    SetTraceFile(path);
}

void Notice(const std::string& text) { PrintError("strelvane-cli schedule: " + text); }

int List(const std::string& path) {
    std::string backup;
    const ScheduleFileRead read = ReadScheduleLocked(path, &backup);
    if (!read.Usable()) return Fail(read.Error);
    if (!backup.empty()) Notice(BackupNotice(backup));
    int number = 0;
    for (const CScheduleInfo& e : read.Entries) Print(EntryLine(++number, e));
    return kExitOk;
}

// Six pairs of hexadecimal digits separated by colons or hyphens.
bool IsMacAddress(const std::string& text) {
    if (text.size() != 17) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 3 == 2;
        const char c = text[i];
        if (separator ? (c != ':' && c != '-') : !std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// The entry the add options describe; nothing, with `error` set, when they do not
// describe a complete one.
std::optional<CScheduleInfo> EntryFromOptions(const CliArgs& args, const Clock& clock,
                                              std::string& error) {
    const int64_t now = clock.UnixSeconds();
    CScheduleInfo e;
    e.IP = args.Value("--ip");
    e.Https = args.Has("--https");
    e.Port = args.Value("--port", e.Https ? "443" : "80");
    e.Account = args.Value("--user");
    e.Password = args.Value("--password");
    e.MAC = args.Value("--mac");
    e.Device = args.Value("--device");
    e.Model = args.Value("--model");
    e.Version = args.Value("--version");
    e.OnvifService = args.Value("--onvif-service");
    e.Status = st::kWaiting;

    // A stored entry without any of these is dropped when the file is read.
    std::string missing;
    for (const char* name : {"--ip", "--user", "--password", "--mac", "--device", "--model",
                             "--version", "--image", "--time"}) {
        if (args.Value(name).empty()) missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    if (!missing.empty()) {
        error = "an entry needs a non-empty " + missing;
        return std::nullopt;
    }
    if (!IsUsableHost(e.IP)) {
        error = "--ip needs an IPv4 address or a host name, not '" + e.IP + "'";
        return std::nullopt;
    }
    if (!IsMacAddress(e.MAC)) {
        error = "--mac needs a MAC address such as 00:1A:2B:3C:4D:5E, not '" + e.MAC + "'";
        return std::nullopt;
    }
    if (!IsUsablePort(e.Port)) {
        error = "--port needs a number from 1 to 65535";
        return std::nullopt;
    }
    const std::optional<int64_t> time = ParseUpgradeTime(args.Value("--time"), now);
    if (!time || *time <= 0) {
        error = "--time needs seconds since 1970, +SECONDS or a local \"YYYY-MM-DD HH:MM[:SS]\"";
        return std::nullopt;
    }
    if (*time < now - kStartWindowSeconds) {
        error = "--time " + LocalTimeText(*time) + " has passed; the entry would never start";
        return std::nullopt;
    }
    e.UpgradeTime = *time;
    if (args.Has("--until")) {
        const std::optional<TimeOfDay> until = ParseTimeOfDay(args.Value("--until"));
        if (!until) {
            error = "--until needs a time of day such as 05:30";
            return std::nullopt;
        }
        e.Until = HourMinuteText(NextTimeOfDay(e.UpgradeTime, *until));
    }
    std::error_code failed;
    const std::filesystem::path image = std::filesystem::absolute(args.Value("--image"), failed);
    if (args.Has("--onvif-service") && !IsUsableServicePath(e.OnvifService)) {
        error = "--onvif-service needs a path such as /onvif/device_service";
        return std::nullopt;
    }
    // A camera that takes the cameras' image takes its maker's, which carry no mark.
    const bool markRequired = !FactsOf(EntryDevice(e).Protocol).CameraImage;
    if (const std::string problem = ImageFileProblem(args.Value("--image"), markRequired);
        !problem.empty()) {
        error = "--image: " + problem;
        return std::nullopt;
    }
    // The scheduler may run from another folder.
    e.FWPath = image.lexically_normal().string();
    return e;
}

int Add(const CliArgs& args, const std::string& path, const Clock& clock) {
    std::string error;
    const std::optional<CScheduleInfo> entry = EntryFromOptions(args, clock, error);
    if (!entry) return Bad(error);
    int number = 0;
    const ScheduleSaved saved = UpdateScheduleFile(path, [&](std::vector<CScheduleInfo>& entries) {
        auto same = std::find_if(entries.begin(), entries.end(), [&](const CScheduleInfo& e) {
            return EqualsNoCase(e.MAC, entry->MAC);
        });
        if (same == entries.end()) {
            same = entries.insert(entries.end(), *entry);
        } else {
            *same = *entry;
        }
        number = static_cast<int>(same - entries.begin()) + 1;
        return true;
    });
    if (!saved.Backup.empty()) Notice(BackupNotice(saved.Backup));
    if (!saved.Ok) return Fail(saved.Error + "; nothing was added");
    Print(EntryLine(number, *entry));
    return kExitOk;
}

struct RunOptions {
    BatchOptions Batch;
    std::vector<std::string> Interfaces;
};

int Run(const std::string& path, const Clock& clock, const RunOptions& options) {
    CatchStopSignals();
    CoreServiceOptions wiring;
    wiring.HistoryFile = DefaultHistoryFile();
    ReviewCutShortUpgrades("schedule run", wiring.HistoryFile, kDefaultDevicePassword);

    CScheduleList list;
    RunView view;
    {
        ScheduleServiceOptions scheduled;
        scheduled.SchedulePath = path;
        // A device back at a new address is searched for on the adapters named.
        scheduled.FindDevicesBack = !options.Interfaces.empty();
        scheduled.BatchPolicySource = [&options] { return options.Batch.Policy; };
        if (options.Batch.WatchLateMinutes > 0) {
            scheduled.LateWatchMs = int64_t{options.Batch.WatchLateMinutes} * 60 * 1000;
        }
        scheduled.Notice = Notice;
        scheduled.HistoryProblemHandler = [](const std::string& file, const std::string& reason) {
            Notice(HistoryProblemText(1, file, reason));
        };
        CCoreServices services(clock, std::move(wiring));
        services.Control().SetSearchInterfaces(options.Interfaces);
        CScheduleRunner& runner = services.AddScheduleRunner(list, view, std::move(scheduled));
        std::string error;
        if (runner.Start(&error) != rc::kOk) return Fail(error);
        while (!StopRequested() && (ScheduleHasWork(list) || runner.LateWatching() > 0)) {
            std::this_thread::sleep_for(kPoll);
        }
        runner.Stop();
    }
    if (StopRequested()) return Fail("interrupted; the schedule is saved");
    return view.AllSucceeded() ? kExitOk : kExitFailed;
}

}  // namespace

int RunScheduleCommand(const std::vector<std::string>& args) {
    std::vector<OptionSpec> options = {{"--help", OptionKind::Flag},
                                       {"--file", OptionKind::Single},
                                       {"--time-scale", OptionKind::Single},
                                       {"--https", OptionKind::Flag},
                                       {"--interface", OptionKind::Multi}};
    // --until is add's: an entry's own window.
    for (const OptionSpec& batch : BatchOptionSpecs()) {
        if (batch.Name != "--until") options.push_back(batch);
    }
    for (const char* name : kAddOptions) {
        if (std::string(name) != "--https") options.push_back({name, OptionKind::Single});
    }
    std::string error;
    auto parsed = CliArgs::Parse(args, options, error);
    if (!parsed) return Bad(error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    const std::vector<std::string>& words = parsed->Positional();
    if (words.empty()) return Bad("missing subcommand: list, add or run");
    const std::string& action = words.front();
    if (action != "list" && action != "add" && action != "run") {
        return Bad("unknown subcommand '" + action + "'");
    }
    if (words.size() > 1) return Bad("unexpected argument '" + words[1] + "'");
    if (action != "add") {
        for (const char* name : kAddOptions) {
            if (parsed->Has(name)) return Bad(std::string(name) + " applies to add only");
        }
    }
    RunOptions run;
    if (action == "run") {
        if (std::string bad = ReadBatchOptions(*parsed, run.Batch); !bad.empty()) return Bad(bad);
        run.Interfaces = parsed->Values("--interface");
    } else {
        for (const char* name :
             {"--interface", "--first-of-each-model", "--max-failures", "--watch-late"}) {
            if (parsed->Has(name)) return Bad(std::string(name) + " applies to run only");
        }
    }
    double scale = 1.0;
    if (parsed->Has("--time-scale")) {
        const std::string text = parsed->Value("--time-scale");
        char* end = nullptr;
        scale = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(scale) || scale <= 0 ||
            scale > kMostTimeScale) {
            return Bad("--time-scale needs a number above 0 and at most " +
                       std::to_string(static_cast<int>(kMostTimeScale)));
        }
    }
    const std::string path =
        parsed->Has("--file") ? parsed->Value("--file") : ScheduleFilePath(DocumentsFolder());
    if (path.empty()) return Bad("--file needs a path");

    const Clock clock(scale);
    // Every action may end interrupted runs, which the trace records.
    UseTraceFile();
    if (action == "list") return List(path);
    if (action == "add") return Add(*parsed, path, clock);
    return Run(path, clock, run);
}
