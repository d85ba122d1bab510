#include "upgrade/worker_steps.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "base/result_codes.h"
#include "base/trace.h"
#include "upgrade/upgrade_manager.h"
#include "web/device_queries.h"
#include "web/web_client.h"

namespace {
// The request that reads the version of a device that is back (as the credential
// check's).
constexpr int kVersionTimeoutMs = 2000;
// A device back on the search may not serve its pages yet: asked this many times, a
// second apart.
constexpr int kVersionTries = 3;
}  // namespace

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

void RunTimedUpload(UpgradeJob& job, const Clock& clock, std::stop_token stop,
                    const std::function<void(std::stop_token)>& upload,
                    const std::function<void()>& tick) {
    std::error_code error;
    const uintmax_t size =
        job.ImageQueue.empty() ? 0 : std::filesystem::file_size(job.ImageQueue.front(), error);
    const int64_t start = clock.NowMs();
    RunWatchedUpload(clock, stop, upload, tick);
    if (job.Result == rc::kOk && !error && size > 0 && job.Manager) {
        job.Manager->UploadTimed(static_cast<int64_t>(size), clock.NowMs() - start);
    }
}

bool AskDevice(const UpgradeJob& job, const std::string& scheme, int timeoutMs,
               ReturnWatch& watch) {
    const JobAddress address = job.Address();
    std::string answer;
    const int code =
        HttpGetText(job.UserName, job.Password, SystemListUrl(scheme, address.Host, address.Port),
                    timeoutMs, answer);
    if (code != rc::kOk && code != rc::kHttpUnauthorized && code != rc::kHttpNotFound) return false;
    watch.Answered(code == rc::kOk ? FirmwareVersionIn(answer) : std::string());
    return true;
}

void AskDeviceEitherWay(const UpgradeJob& job, int timeoutMs, ReturnWatch& watch) {
    if (!AskDevice(job, "http", timeoutMs, watch) && !AskDevice(job, "https", timeoutMs, watch)) {
        watch.Unanswered();
    }
}

void LookThroughSearch(UpgradeJob& job, ReturnWatch& watch) {
    job.Manager->ProbeDevice(job.DeviceId);
    const auto now = std::chrono::steady_clock::now();
    if (job.SeenAgain) {
        watch.Reported(now);
        if (!watch.Returned()) job.Manager->ForgetDevice(job.DeviceId);
    }
    watch.Looked(now);
}

int ReturnOutcome(UpgradeJob& job, ReturnWatch& watch, const Clock& clock, std::stop_token stop) {
    if (!watch.Returned()) {
        Trace("upgrade of %s: the device did not restart and come back", job.DeviceId.c_str());
        return job.Result = rc::kNotSeenAgain;
    }
    for (int tries = 0; watch.VersionAfter().empty() && tries < kVersionTries; ++tries) {
        if (tries > 0 && !clock.SleepMs(1000, stop)) break;
        AskDeviceEitherWay(job, kVersionTimeoutMs, watch);
    }
    job.FirmwareAfter = watch.VersionAfter();
    if (job.ImagesFromStore && !job.FirmwareAfter.empty() &&
        job.FirmwareAfter == watch.VersionBefore()) {
        Trace("upgrade of %s: back with its old firmware %s", job.DeviceId.c_str(),
              job.FirmwareAfter.c_str());
        return job.Result = rc::kOldFirmwareStill;
    }
    return job.Result;
}
