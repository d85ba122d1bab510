#include "pipeline/worker_steps.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "base/result_codes.h"
#include "base/trace.h"

void ReportJob(UpgradeJob& job, int stage, int seconds, int percent, int code) {
    job.Manager->Report(job.DeviceId, stage, seconds, percent, code);
}

int EndJobAt(UpgradeJob& job, int stage) {
    const int result = job.Result;
    ReportJob(job, stage, 0, 100, result);
    return result;
}

int PercentOf(int64_t done, int64_t total) {
    if (total <= 0 || done <= 0) return 0;
    if (done >= total) return 100;
    return static_cast<int>(done * 100 / total);
}

bool WaitRandomStart(const Clock& clock, std::stop_token stop) {
    std::mt19937 generator(
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                              std::hash<std::thread::id>()(std::this_thread::get_id())));
    std::uniform_int_distribution<int> pause(15, 1014);
    return clock.SleepMs(pause(generator), stop);
}

void RunWatchedUpload(const Clock& clock, std::stop_token stop,
                      const std::function<void(std::stop_token)>& upload,
                      const std::function<void()>& tick) {
    // Wakes the watcher's one-second sleep when the upload ends or a stop comes.
    std::stop_source wake;
    std::stop_callback relayStop(stop, [&wake] { wake.request_stop(); });
    std::atomic<bool> ended{false};
    std::jthread thread([&] {
        upload(stop);
        ended = true;
        wake.request_stop();
    });
    for (;;) {
        clock.SleepMs(1000, wake.get_token());
        // A stopped upload ends within moments; it is joined below.
        if (ended || stop.stop_requested()) break;
        tick();
    }
    thread.join();
}

void RunTimedUpload(UpgradeJob& job, const std::string& image, const Clock& clock,
                    std::stop_token stop, const std::function<void(std::stop_token)>& upload,
                    const std::function<void()>& tick) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(image, error);
    const int64_t start = clock.NowMs();
    RunWatchedUpload(clock, stop, upload, tick);
    if (job.Result == rc::kOk && !error && size > 0 && job.Manager) {
        job.Manager->UploadTimed(static_cast<int64_t>(size), clock.NowMs() - start);
    }
}
