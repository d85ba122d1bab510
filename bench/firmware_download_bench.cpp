// One large image downloaded into the firmware store from devsim over loopback, against
// the designed cap (one 102400-byte chunk per 15 ms) and beside curl fetching the same
// file in the same run.
// Usage: firmware_download_bench [MiB]   (default 200)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/clock.h"
#include "bench_files.h"
#include "firmware/download_coordinator.h"
#include "firmware/download_status.h"
#include "firmware/file_md5.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/temp_dir.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Notes when the image was stored and verified, and how the series ended.
class StopWatchView : public CFirmwareView {
public:
    void OnDownloadStatus(const std::string&, int kind, int, int) override {
        if (kind == download_kind::kImageStored) stored_ = SteadyClock::now();
        if (kind == download_kind::kFinished || kind == download_kind::kStopped) ended_ = kind;
    }
    void OnAllDownloadsFinished() override {}
    void OnSeriesAdded(const std::string&, bool) override {}
    void OnSeriesQueued(const std::string&, bool) override {}
    void OnSeriesRemoved(const std::string&) override {}
    void OnCatalogChecked() override {}
    void OnCatalogLoading() override {}
    void OnCatalogReady() override {}
    void OnDiskFull() override {}
    void RefreshSeriesStatuses() override {}
    void AttachServices(CDownloadCoordinator*, CFirmwareCatalog*) override {}

    int Ended() const { return ended_.load(); }
    SteadyClock::time_point Stored() const { return stored_; }

private:
    std::atomic<int> ended_{-1};
    SteadyClock::time_point stored_;
};

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 200;
    const int64_t bytes = mib << 20;
    const double capBytesPerSecond = 102400 / 0.015;

    TempDir scratch;
    const std::string server = scratch.Path() + "/server";
    const std::string store = scratch.Path() + "/store";
    std::filesystem::create_directories(server);
    std::filesystem::create_directories(store);
    const std::string md5 = WriteImage(server + "/image.bin", bytes, false);
    if (md5.empty()) {
        std::fprintf(stderr, "cannot write the image under the temporary folder\n");
        return 1;
    }
    FILE* catalog = std::fopen((server + "/Firmware_V2.xml").c_str(), "wb");
    std::fprintf(catalog,
                 "<FirmwareList><Firmware Series=\"Bench\" Model=\"M\" HWVer=\"H\" FWVer=\"1\" "
                 "Filename=\"image.bin\" MD5=\"%s\" Size=\"%lld\"/></FirmwareList>",
                 md5.c_str(), static_cast<long long>(bytes));
    std::fclose(catalog);
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy"})
        ::unsetenv(name);

    DevsimProcess sim({"--firmware-server", "folder=" + server});
    const std::string base = "http://127.0.0.1:" + std::to_string(sim.FirmwareServerPort());

    auto curlStart = SteadyClock::now();
    const ProcessResult curl = RunProcess(
        {"curl", "-sS", "--noproxy", "*", "-o", scratch.Path() + "/curl.bin", base + "/image.bin"},
        std::chrono::minutes(5));
    const double curlSeconds = Seconds(SteadyClock::now() - curlStart);
    std::filesystem::remove(scratch.Path() + "/curl.bin");

    const Clock clock;
    StopWatchView view;
    CFirmwareCatalog firmware(store, base, [] { return true; });
    CDownloadManager manager(clock);
    CDownloadCoordinator coordinator(manager, firmware);
    coordinator.AddPage(&view);
    firmware.ReadLocalCatalog();
    if (firmware.FetchServerCatalog() != 0) {
        std::fprintf(stderr, "the catalogue did not load\n");
        return 1;
    }
    const auto start = SteadyClock::now();
    coordinator.DownloadSeries("Bench");
    while (view.Ended() < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (view.Ended() != download_kind::kFinished) {
        std::fprintf(stderr, "the download did not finish\n");
        return 1;
    }
    const double storedSeconds = Seconds(view.Stored() - start);
    // The verification alone, to split it from the transfer above.
    const auto verifyStart = SteadyClock::now();
    std::string check;
    ComputeFileMD5(store + "/image.bin", check);
    const double verifySeconds = Seconds(SteadyClock::now() - verifyStart);
    const double transferSeconds = storedSeconds - verifySeconds;

    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("image: %lld MiB over loopback from devsim\n", static_cast<long long>(mib));
    std::printf("designed cap (102400 B / 15 ms): %7.2f MB/s -> %6.2f s\n", capBytesPerSecond / 1e6,
                static_cast<double>(bytes) / capBytesPerSecond);
    std::printf("store download:  %6.2f s = %7.2f MB/s (%.1f %% of the cap)\n", transferSeconds,
                mb / transferSeconds, 100.0 * mb / transferSeconds / (capBytesPerSecond / 1e6));
    std::printf("  + MD5 check:   %6.2f s (stored and verified after %.2f s)\n", verifySeconds,
                storedSeconds);
    std::printf("curl:            %6.2f s = %7.2f MB/s (exit %d)\n", curlSeconds, mb / curlSeconds,
                curl.ExitCode);
    std::printf("peak RSS of this process: %ld KiB\n", PeakRssKiB());
    return check == md5 && curl.ExitCode == 0 ? 0 : 1;
}
