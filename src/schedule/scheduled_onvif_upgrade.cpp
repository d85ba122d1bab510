#include "schedule/scheduled_onvif_upgrade.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "schedule/scheduled_run_steps.h"
#include "upgrade/onvif_upgrade_steps.h"
#include "upgrade/onvif_upload.h"

namespace {

namespace st = schedule_status;

constexpr int kRequestTimeoutMs = 10000;
constexpr int kLookTimeoutMs = 2000;
constexpr int kUploadStallMs = 60000;

std::string ServiceAddress(const CScheduleInfo& e) {
    return StrFormat("%s://%s:%s%s", e.Https ? "https" : "http", e.IP.c_str(), e.Port.c_str(),
                     e.OnvifService.c_str());
}

// 0 when the camera at the address names the entry's MAC; its code when it cannot be
// asked; -1 when it names another.
int CheckCamera(COnvifSession& session, const CScheduleInfo& e) {
    std::string mac;
    const int result = GetMacAddress(session, mac);
    if (result != rc::kOk) return result;
    if (ToUpperAscii(mac) != ToUpperAscii(Trim(e.MAC))) {
        Trace("schedule %s: the camera at %s names MAC '%s'; nothing is sent\n", e.MAC.c_str(),
              e.IP.c_str(), mac.c_str());
        return rc::kFailed;
    }
    return rc::kOk;
}

}  // namespace

int ScheduledOnvifStatus(CScheduledRun& run, const Clock& clock, IScheduleObserver& observer,
                         std::stop_token stop, UploadRate& rate) {
    const CScheduleInfo entry = run.Entry();
    if (stop.stop_requested()) return st::kQueued;
    COnvifSession session({ServiceAddress(entry)}, entry.Account, entry.Password,
                          kRequestTimeoutMs);
    if (const int identity = CheckCamera(session, entry); identity != rc::kOk) {
        return ScheduleStatusOf(identity);
    }
    std::string before;
    OnvifUpgradeTicket ticket;
    if (const int prepared = PrepareOnvifUpgrade(session, before, ticket); prepared != rc::kOk) {
        return ScheduleStatusOf(prepared);
    }
    run.SetVersionBefore(before);
    if (!clock.SleepMs(ticket.UploadDelayMs, stop)) return st::kQueued;

    run.SetStatus(st::kUploading);
    ReportEntry(run, observer);
    const bool digest = session.Auth() == OnvifAuth::Digest;
    const int uploaded = UploadReporting(
        run, entry, clock, observer, rate,
        [&](std::atomic<int64_t>& total, std::atomic<int64_t>& sent, std::stop_token never) {
            return UploadOnvifImage(ticket.UploadUri, entry.FWPath, digest, entry.Account,
                                    entry.Password, kUploadStallMs, total, sent, never);
        });
    run.SetStatus(st::kUpgrading);
    ReportEntry(run, observer);
    if (uploaded != rc::kOk) return ScheduleStatusOf(uploaded);

    session.SetTimeout(kLookTimeoutMs);
    const int64_t deadline =
        clock.NowMs() + ticket.ExpectedDownTimeMs + kOnvifReturnMarginSeconds * 1000LL;
    ReturnWatch watch(before);
    int lastLook = rc::kOk;
    // Each round takes a second of the clock or a real request time-out: bounded by the
    // deadline.
    for (;;) {
        lastLook = LookAtCamera(session, watch);
        if (watch.Returned() || clock.NowMs() >= deadline) break;
        // Stopped before the camera was seen again: the outcome is not known.
        if (!clock.SleepMs(1000, stop)) return st::kUpgrading;
    }
    ReadReturnedVersion(session, watch, clock, stop, lastLook);
    if (!watch.VersionAfter().empty()) run.SetFirmwareVersion(watch.VersionAfter());
    const int result = OnvifReturnOutcome(watch, lastLook);
    if (result != rc::kOk) {
        Trace("schedule %s: the camera's upgrade ended with %d\n", entry.MAC.c_str(), result);
    }
    return ScheduleStatusOf(result);
}
