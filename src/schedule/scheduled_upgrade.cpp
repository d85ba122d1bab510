#include "schedule/scheduled_upgrade.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "schedule/scheduled_onvif_upgrade.h"
#include "schedule/scheduled_run_steps.h"
#include "upgrade/cgi_main_upload.h"
#include "upgrade/onvif_upgrade_steps.h"
#include "upgrade/return_watch.h"
#include "web/device_queries.h"
#include "web/web_client.h"

namespace {

namespace st = schedule_status;

// Timing of a scheduled upgrade. The pauses and the deadline are deliberate waits and
// go through the Clock; the request time-outs are network time-outs and stay real.
constexpr int kIdentityTimeoutMs = 2000;
constexpr int64_t kRebootPauseMs = 10000;      // before the first look for the device
constexpr int64_t kReturnDeadlineMs = 420000;  // looking stops this long after that pause
constexpr int kReturnTryTimeoutMs = 1000;
constexpr int64_t kReturnRetryPauseMs = 1000;
constexpr int64_t kSettlePauseMs = 10000;  // after the device first answers again

constexpr const char* kMacMarker = ".system.product.mac.address=";

std::string DeviceUrl(const CScheduleInfo& e, const char* path) {
    return StrFormat("%s://%s:%s%s", e.Https ? "https" : "http", e.IP.c_str(), e.Port.c_str(),
                     path);
}

std::string SystemListUrl(const CScheduleInfo& e) {
    return DeviceUrl(e, "/liveviewct?action=list&function=system");
}

// 0 when the device at the entry's address reports the entry's MAC, with the firmware
// version it names in `version`; the request's code when it cannot be asked; -1 when it
// reports another MAC or none.
int CheckIdentity(const CScheduleInfo& e, std::string& version) {
    std::string reply;
    const int code =
        HttpGetText(e.Account, e.Password, SystemListUrl(e), kIdentityTimeoutMs, reply);
    if (code != rc::kOk) {
        Trace("schedule %s: the device at %s did not answer its system list (%d)\n", e.MAC.c_str(),
              e.IP.c_str(), code);
        return code;
    }
    std::string mac;
    ValueAfterMarker(reply, kMacMarker, mac);
    // Trimmed: a device that ends its lines with "\r\n" still names the same MAC.
    mac = ToUpperAscii(Trim(mac));
    if (mac.empty() || mac != ToUpperAscii(Trim(e.MAC))) {
        Trace("schedule %s: the device at %s reports MAC '%s'; nothing is sent\n", e.MAC.c_str(),
              e.IP.c_str(), mac.c_str());
        return rc::kFailed;
    }
    version = FirmwareVersionIn(reply);
    return rc::kOk;
}

// Asks the device at the entry's address for its system list: true when a device
// answered there that is not known to be another one (a refusal is an answer too); the
// version it names goes to `version`.
bool AnswersAt(const CScheduleInfo& e, std::string& version) {
    std::string reply;
    const int code =
        HttpGetText(e.Account, e.Password, SystemListUrl(e), kReturnTryTimeoutMs, reply);
    if (code != rc::kOk && code != rc::kHttpUnauthorized && code != rc::kHttpNotFound) {
        return false;
    }
    // Another device took the address while ours restarted (a DHCP lease handed on).
    if (code == rc::kOk && NamesAnotherMac(MacAddressIn(reply), e.MAC)) return false;
    version = code == rc::kOk ? FirmwareVersionIn(reply) : std::string();
    return true;
}

// One look at the device's system list, noted in `watch`.
void LookAtDevice(const CScheduleInfo& e, ReturnWatch& watch) {
    std::string version;
    if (AnswersAt(e, version)) {
        watch.Answered(version);
    } else {
        watch.Unanswered();
    }
}

// One look for the device elsewhere: where the search last saw a device naming the
// entry's MAC, if that is another address and a device there answers. `e` then holds
// the new address.
void LookElsewhere(CScheduleInfo& e, IDeviceLocator* locator, ReturnWatch& watch) {
    if (!locator) return;
    const std::optional<DeviceSighting> seen = locator->Locate(e.MAC);
    if (!seen || (seen->Host == e.IP && std::to_string(seen->Port) == e.Port)) return;
    CScheduleInfo there = e;
    there.IP = seen->Host;
    there.Port = std::to_string(seen->Port);
    std::string version;
    if (!AnswersAt(there, version)) return;
    watch.SeenElsewhere(there.IP);
    watch.Answered(version);
    Trace("schedule %s: back at the new address %s:%s\n", e.MAC.c_str(), there.IP.c_str(),
          there.Port.c_str());
    e = there;
}

// Waits for the device to restart and come back after it took the image (ReturnWatch:
// its answers while it still writes its flash do not count): 0 once it is back, with
// the version it names in `version` and `e` holding the address it answers at; -10 when
// it was not back by the deadline; nothing when stopped first.
std::optional<int> AwaitReturn(CScheduleInfo& e, const std::string& versionBefore,
                               const Clock& clock, std::stop_token stop, IDeviceLocator* locator,
                               std::string& version) {
    if (!clock.SleepMs(kRebootPauseMs, stop)) return std::nullopt;
    const int64_t deadline = clock.NowMs() + kReturnDeadlineMs;
    int64_t lastTry = clock.NowMs();
    ReturnWatch watch(versionBefore);
    // Each round takes at least a second of the Clock or a real request time-out, so
    // the rounds are bounded by the deadline.
    while (!stop.stop_requested()) {
        LookAtDevice(e, watch);
        if (!watch.Returned()) LookElsewhere(e, locator, watch);
        if (watch.Returned()) {
            // Back: let it finish starting up. A stop cuts this short; it is back either way.
            clock.SleepMs(kSettlePauseMs, stop);
            if (watch.VersionAfter().empty() && !stop.stop_requested()) LookAtDevice(e, watch);
            version = watch.VersionAfter();
            return rc::kOk;
        }
        const int64_t now = clock.NowMs();
        if (now >= deadline) {
            Trace("schedule %s: the device at %s did not restart and come back\n", e.MAC.c_str(),
                  e.IP.c_str());
            return rc::kNotSeenAgain;
        }
        if (now - lastTry < kReturnRetryPauseMs && !clock.SleepMs(kReturnRetryPauseMs, stop)) {
            return std::nullopt;
        }
        lastTry = now;
    }
    return std::nullopt;
}

// The status the run ends with.
int Outcome(CScheduledRun& run, const Clock& clock, IScheduleObserver& observer,
            std::stop_token stop, UploadRate& rate, IDeviceLocator* locator) {
    const CScheduleInfo entry = run.Entry();
    if (stop.stop_requested()) return st::kQueued;
    std::string versionBefore;
    const int identity = CheckIdentity(entry, versionBefore);
    if (identity != rc::kOk) return ScheduleStatusOf(identity);
    if (versionBefore.empty()) {
        versionBefore = entry.Version;
    } else {
        run.SetVersionBefore(versionBefore);
    }
    if (stop.stop_requested()) return st::kQueued;

    run.SetStatus(st::kUploading);
    ReportEntry(run, observer);
    const int uploaded = UploadReporting(
        run, entry, clock, observer, rate,
        [&](std::atomic<int64_t>& total, std::atomic<int64_t>& sent, std::stop_token) {
            return UploadCgiMain(entry.Account, entry.Password,
                                 DeviceUrl(entry, "/cgi-bin/cgi_main.cgi"), entry.FWPath, total,
                                 sent);
        });
    run.SetStatus(st::kUpgrading);
    ReportEntry(run, observer);
    if (uploaded != rc::kOk) return ScheduleStatusOf(uploaded);

    std::string versionAfter;
    CScheduleInfo device = entry;
    const std::optional<int> returned =
        AwaitReturn(device, versionBefore, clock, stop, locator, versionAfter);
    if (device.IP != entry.IP || device.Port != entry.Port) run.SetAddress(device.IP, device.Port);
    // Stopped before the device was seen again: the outcome is not known.
    if (!returned) return st::kUpgrading;
    if (!versionAfter.empty()) run.SetFirmwareVersion(versionAfter);
    return ScheduleStatusOf(*returned);
}

}  // namespace

int64_t ScheduledWaitSeconds() {
    return (kRebootPauseMs + kReturnDeadlineMs + kSettlePauseMs) / 1000;
}

void RunScheduledUpgrade(CScheduledRun run, const Clock& clock, IScheduleObserver& observer,
                         std::stop_token stop, UploadRate* rate, IDeviceLocator* locator) {
    UploadRate assumed;
    UploadRate& measured = rate ? *rate : assumed;
    const CScheduleInfo entry = run.Entry();
    const bool camera = !entry.OnvifService.empty();
    int status = st::kPastWindow;
    if (!PastWindow(entry, camera ? OnvifWaitSeconds() : ScheduledWaitSeconds(), clock, measured)) {
        status = camera ? ScheduledOnvifStatus(run, clock, observer, stop, measured)
                        : Outcome(run, clock, observer, stop, measured, locator);
    }
    const CScheduleInfo finished = run.Finish(status);
    Trace("schedule %s: run ended with status %d\n", finished.MAC.c_str(), status);
    observer.EntryFinished(run.Id(), finished);
}
