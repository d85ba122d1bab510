#include "app/cli/firmware_command.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "app/cli/cli_args.h"
#include "app/cli/cli_commands.h"
#include "app/cli/firmware_transfer_command.h"
#include "app/cli/json_line.h"
#include "app/cli/terminal.h"
#include "base/atomic_file.h"
#include "base/clock.h"
#include "base/regular_file.h"
#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "firmware/download_coordinator.h"
#include "firmware/download_manager.h"
#include "firmware/download_status.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "settings/settings.h"

namespace {

constexpr const char* kUsage =
    "usage: strelvane-cli firmware check [--server URL] [--proxy ADDRESS] [--storage DIR]\n"
    "       strelvane-cli firmware download [SERIES...] [--server URL] [--proxy ADDRESS]\n"
    "                                       [--storage DIR] [--timeout SECONDS]\n"
    "       strelvane-cli firmware list [--storage DIR]\n"
    "       strelvane-cli firmware export DIR [--storage DIR]\n"
    "       strelvane-cli firmware import DIR [--storage DIR]\n"
    "\n"
    "check     fetch the server catalogue, merge it into the store and print one JSON\n"
    "          line per series: {\"series\",\"images\",\"size\",\"checked\",\"state\"}, state\n"
    "          \"latest\" (every image stored and verified) or \"older\".\n"
    "download  check, then download the named series (every series when none is named):\n"
    "          {\"series\",\"queued\"} per series, then one line per status report\n"
    "          {\"series\",\"kind\",\"a\",\"b\",\"text\"}: kind 0 progress (a seconds left, b\n"
    "          percent), 1 image stored and verified, 2 series done, 4 stopped or an image\n"
    "          failed its MD5 check, 8 network error and 16 not enough free space (both\n"
    "          retried every 5 s). Every failed attempt at an image is shown as\n"
    "          {\"series\",\"file\",\"attempt\",\"retrying\",\"error\"}. SIGINT or SIGTERM\n"
    "          cancels; a partial image is resumed by the next run.\n"
    "list      one JSON line per image the store holds, from its firmware.xml.\n"
    "export    write the store's images to DIR (a USB stick; created when missing) as the\n"
    "          server serves them, each checked against its MD5 while copied, with the\n"
    "          catalogue Firmware_V2.xml naming them and manifest.tsv (file, size, MD5,\n"
    "          series, version). An image DIR holds already is skipped.\n"
    "import    add the images of DIR (an exported folder, or one holding the server's\n"
    "          Firmware_V2.xml and images as the server serves them) to the store. Each\n"
    "          image's size and MD5 are checked against that catalogue before it enters\n"
    "          the store; an image stored already, or stored in a newer version, is\n"
    "          skipped; nothing stored is lost. DIR is only read (a read-only medium is\n"
    "          fine); no server is asked.\n"
    "          export and import print one JSON line per image through a pipe,\n"
    "          {\"file\",\"series\",\"model\",\"version\",\"size\",\"outcome\",\"reason\"} with\n"
    "          outcome \"taken\", \"skipped\" or \"refused\", and a readable line per image\n"
    "          and the progress with the time left on a terminal.\n"
    "\n"
    "--server URL     firmware server for this run instead of the machine-wide URL setting\n"
    "--storage DIR    store folder for this run instead of the Storage setting (created\n"
    "                 when missing); without either the default store is used\n"
    "--proxy ADDRESS  reach the server through this proxy (host:port) instead of the\n"
    "                 machine-wide Proxy setting or the environment's http_proxy; its\n"
    "                 user is --proxy-user or the ProxyUser setting, its password\n"
    "                 $STRELVANE_PROXY_PASSWORD. Devices are never reached through it.\n"
    "--proxy-user U   the proxy's user for this run\n"
    "--timeout SEC    download: give up (cancel) after SEC seconds (default 900)\n"
    "\n"
    "check and download work on the store alone: while another process downloads into it\n"
    "or merges its catalogue, they wait up to 5 s and then fail saying it is busy. A\n"
    "server catalogue that lists no firmware is a failed check; the store is kept.\n"
    "\n"
    "Exit status: 0 success, 1 failure (unreachable server, empty or malformed catalogue,\n"
    "unreadable or unwritable store, busy store, a series not brought up to date, an\n"
    "image refused by export or import, interrupted), 2 bad arguments.\n"
    "Trace lines go to $XDG_STATE_HOME/strelvane/strelvane.log.\n";

constexpr auto kPoll = std::chrono::milliseconds(50);

// A download that keeps failing is retried every 5 s; the command line does not wait
// for ever (the GUI does, with "Network break" showing).
constexpr int64_t kDefaultTimeoutSeconds = 900;

// What a status report shows, in the download page's words.
std::string KindText(int kind, int a, int b) {
    switch (kind) {
        case download_kind::kProgress:
            return ProgressText(a, b);
        case download_kind::kImageStored:
            return "Image stored and verified";
        case download_kind::kFinished:
            return "Latest";
        case download_kind::kStopped:
            return "Older";
        case download_kind::kNetworkError:
            return "Network break";
        case download_kind::kNoSpace:
            return "Not enough free space";
        default:
            return "";
    }
}

// Prints the download notifications as JSON lines and remembers how each series ended.
class CliView : public CFirmwareView {
public:
    void OnDownloadStatus(const std::string& series, int kind, int a, int b) override {
        Print(JsonLine()
                  .Add("series", series)
                  .Add("kind", kind)
                  .Add("a", a)
                  .Add("b", b)
                  .Add("text", KindText(kind, a, b))
                  .Text());
        if (kind == download_kind::kFinished || kind == download_kind::kStopped) {
            std::lock_guard lock(mutex_);
            ended_[series] = kind;
        }
    }
    void OnSeriesQueued(const std::string& series, bool nothingQueued) override {
        Print(JsonLine().Add("series", series).Add("queued", !nothingQueued).Text());
        if (nothingQueued) {
            std::lock_guard lock(mutex_);
            ended_[series] = download_kind::kFinished;
        }
    }
    void OnDownloadFailed(const std::string& series, const std::string& file, int result,
                          int attempt, bool retrying) override {
        Print(JsonLine()
                  .Add("series", series)
                  .Add("file", file)
                  .Add("attempt", attempt)
                  .Add("retrying", retrying)
                  .Add("error", DownloadFailureText(result, DefaultText))
                  .Text());
    }
    void OnAllDownloadsFinished() override {}
    void OnSeriesAdded(const std::string&, bool) override {}
    void OnSeriesRemoved(const std::string&) override {}
    void OnCatalogChecked() override {}
    void OnCatalogLoading() override {}
    void OnCatalogReady() override {}
    void OnDiskFull() override {}
    void RefreshSeriesStatuses() override {}
    void AttachServices(CDownloadCoordinator*, CFirmwareCatalog*) override {}

    // True when every series ended up to date.
    bool AllLatest(const std::vector<std::string>& series) const {
        std::lock_guard lock(mutex_);
        return std::all_of(series.begin(), series.end(), [&](const std::string& s) {
            auto it = ended_.find(s);
            return it != ended_.end() && it->second == download_kind::kFinished;
        });
    }

    static void Print(const std::string& line) {
        static std::mutex out;
        std::lock_guard lock(out);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> ended_;
};

int Fail(const std::string& message) {
    PrintError("strelvane-cli firmware: " + message);
    return kExitFailed;
}

std::string CatalogReadFailure(const std::string& path) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) return "cannot read " + path + ": " + FileErrorText(errno);
    return path +
           " is not a readable catalogue (not well-formed XML); move it away and run check "
           "again: the store then starts anew and fetches its images again";
}

// Why the server check failed, in the user's terms.
std::string CheckFailure(const std::string& server, int result) {
    const std::string url = server + "/Firmware_V2.xml";
    switch (result) {
        case rc::kHttpNotFound:
            return "the server has no catalogue at " + url + " (HTTP 404)";
        case rc::kFailed:
            return "the server catalogue " + url + " is not well-formed XML; nothing was changed";
        case kCatalogListsNoFirmware:
            return "the server catalogue " + url +
                   " lists no firmware (an empty list or another page); the store is left as "
                   "it is";
        case rc::kTimeout:
            return "the server did not answer in time for " + url;
        case rc::kCannotConnect:
            return "cannot connect to the server for " + url;
        case rc::kProxyRefused:
            return "the proxy refused the connection or its log-in for " + url;
        case rc::kNameNotResolved:
            return "the server's host name does not resolve (" + url + ")";
        default:
            return StrFormat("cannot get the server catalogue %s (result %d)", url.c_str(), result);
    }
}

void UseTraceFile() {
    const std::string path = DefaultTraceFile();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    SetTraceFile(path);
}

// Waits for the catalogue's server check; false when a stop signal came first.
bool WaitForCheck(const CFirmwareCatalog& catalog) {
    while (catalog.IsCheckRunning()) {
        if (StopRequested()) return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

int PrintSeries(CFirmwareCatalog& catalog) {
    for (const CFirmwareSeries& s : catalog.Series()) {
        const bool older = catalog.AnyNeedsDownload(s.Name);
        CliView::Print(JsonLine()
                           .Add("series", s.Name)
                           .Add("images", static_cast<int64_t>(s.Entries.size()))
                           .Add("size", catalog.SeriesTotalSize(s.Name))
                           .Add("checked", s.Checked)
                           .Add("state", older ? "older" : "latest")
                           .Text());
    }
    return kExitOk;
}

int PrintStored(const CFirmwareCatalog& catalog) {
    for (const CFirmwareSeries& s : catalog.Series()) {
        for (const CFirmwareInfo& e : s.Entries) {
            if (e.StoredFilename.empty()) continue;
            const std::string path = catalog.StorageFolder() + "/" + e.StoredFilename;
            std::error_code error;
            const auto length = std::filesystem::file_size(path, error);
            CliView::Print(
                JsonLine()
                    .Add("series", s.Name)
                    .Add("product", e.ProductName)
                    .Add("model", e.Model)
                    .Add("hw_version", e.HWVer)
                    .Add("version", e.StoredFWVer)
                    .Add("md5", e.StoredMD5)
                    .Add("size", e.Size)
                    .Add("path", path)
                    .Add("complete", !error && static_cast<int64_t>(length) - 4 >= e.Size)
                    .Text());
        }
    }
    return kExitOk;
}

int Download(CFirmwareCatalog& catalog, CliView& view, std::vector<std::string> wanted,
             int64_t timeoutSeconds, const ServerProxy& proxy) {
    const std::vector<std::string> known = catalog.SeriesNames();
    for (const std::string& name : wanted) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            return BadArguments("firmware", "the server catalogue has no series '" + name + "'");
        }
    }
    if (wanted.empty()) wanted = known;

    const Clock clock;
    CDownloadManager manager(clock);
    manager.SetServerProxy(proxy);
    CDownloadCoordinator coordinator(manager, catalog);
    coordinator.AddPage(&view);
    for (const std::string& name : wanted) coordinator.SelectSeries(name);
    coordinator.DownloadSelected();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool stopped = false;
    while (manager.HasWork()) {
        const bool late = timeoutSeconds > 0 && std::chrono::steady_clock::now() >= deadline;
        if (StopRequested() || late) {
            coordinator.CancelAll(
                [](std::chrono::milliseconds) { std::this_thread::sleep_for(kPoll); });
            stopped = true;
            break;
        }
        std::this_thread::sleep_for(kPoll);
    }
    if (stopped)
        return Fail(StopRequested() ? "interrupted; downloads stopped"
                                    : "timed out; downloads stopped");
    return view.AllLatest(wanted) ? kExitOk : Fail("some series are not up to date");
}

}  // namespace

int RunFirmwareCommand(const std::vector<std::string>& args) {
    std::string error;
    auto parsed = CliArgs::Parse(args,
                                 {{"--help", OptionKind::Flag},
                                  {"--server", OptionKind::Single},
                                  {"--proxy", OptionKind::Single},
                                  {"--proxy-user", OptionKind::Single},
                                  {"--storage", OptionKind::Single},
                                  {"--timeout", OptionKind::Single}},
                                 error);
    if (!parsed) return BadArguments("firmware", error);
    if (parsed->Has("--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    const std::vector<std::string>& words = parsed->Positional();
    if (words.empty()) {
        return BadArguments("firmware",
                            "missing subcommand: check, download, list, export or import");
    }
    const std::string& action = words.front();
    const std::vector<std::string> series(words.begin() + 1, words.end());
    const bool transfer = action == "export" || action == "import";
    if (action != "check" && action != "download" && action != "list" && !transfer) {
        return BadArguments("firmware", "unknown subcommand '" + action + "'");
    }
    if (transfer && series.size() != 1) {
        return BadArguments("firmware", "'" + action + "' takes one folder");
    }
    if ((transfer || action == "list") && (parsed->Has("--proxy") || parsed->Has("--proxy-user"))) {
        return BadArguments("firmware", "'" + action + "' does not ask the server");
    }
    if (transfer && parsed->Has("--server")) {
        return BadArguments("firmware", "'" + action + "' does not ask the server");
    }
    if (action != "download" && !transfer && !series.empty()) {
        return BadArguments("firmware", "'" + action + "' takes no series names");
    }
    if (action != "download" && parsed->Has("--timeout")) {
        return BadArguments("firmware", "--timeout applies to download only");
    }
    if (action == "list" && parsed->Has("--server")) {
        return BadArguments("firmware", "'list' does not ask the server");
    }
    int64_t timeoutSeconds = kDefaultTimeoutSeconds;
    if (parsed->Has("--timeout")) {
        const std::string text = parsed->Value("--timeout");
        timeoutSeconds = ParseDecimal(text);
        if (timeoutSeconds <= 0 || std::to_string(timeoutSeconds) != text) {
            return BadArguments("firmware", "--timeout needs a positive number of seconds");
        }
    }

    const CSettings settings;
    if (const auto problem = settings.Problem()) return Fail(problem->Text());
    std::string storage = parsed->Value("--storage");
    if (storage.empty()) storage = settings.ReadStorageFolder();
    // The Storage setting is held to what --storage is held to.
    if (storage.empty()) {
        storage = DefaultStorageFolder();
    } else if (!PrepareStoreFolder(storage, error)) {
        return Fail(error);
    }
    const std::string server = WithoutTrailingSlashes(
        parsed->Has("--server") ? parsed->Value("--server") : ResolveServerBase(settings));
    if (transfer) {
        UseTraceFile();
        return RunFirmwareTransfer(action, series.front(), storage);
    }
    if (action != "list" && server.empty()) {
        return Fail("no firmware server: set the machine-wide URL setting or pass --server");
    }

    UseTraceFile();
    CatchStopSignals();

    // The view outlives the store objects that call it.
    CliView view;
    // An explicit command always asks the server; an unreachable one is reported as such.
    std::shared_ptr<const CFileLock> storeLock;
    if (action != "list") {
        storeLock = LockStore(storage);
        if (!storeLock) {
            return Fail("the firmware store " + storage +
                        " is busy: another process is downloading into it or merging its "
                        "catalogue; try again when it has finished");
        }
    }
    CFirmwareCatalog catalog(storage, server, [] { return true; });
    const char* password = std::getenv("STRELVANE_PROXY_PASSWORD");
    const ServerProxy proxy{parsed->Value("--proxy", settings.ReadProxyAddress()),
                            parsed->Value("--proxy-user", settings.ReadProxyUser()),
                            password ? password : ""};
    catalog.SetServerProxy(proxy);
    if (!catalog.ReadLocalCatalog()) return Fail(CatalogReadFailure(catalog.CatalogPath()));
    if (action == "list") return PrintStored(catalog);

    catalog.StartServerCheck();
    if (!WaitForCheck(catalog)) return Fail("interrupted");
    if (const int result = catalog.LastCheckResult(); result != 0) {
        return Fail(CheckFailure(server, result));
    }
    // The merged state is only worth showing once it is kept.
    if (!catalog.SaveCatalog()) {
        return Fail("cannot write " + catalog.CatalogPath() + ": " + std::strerror(errno));
    }
    if (action == "check") return PrintSeries(catalog);
    return Download(catalog, view, series, timeoutSeconds, proxy);
}
