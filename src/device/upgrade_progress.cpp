#include "device/upgrade_progress.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "base/time_of_day.h"

std::string DefaultText(std::string_view, std::string_view, std::string_view def) {
    return std::string(def);
}

std::string StatusCellText(int stage, int seconds, int percent, int code, const TextLookup& lookup,
                           int64_t windowEnd) {
    if (stage == stage::kRunning && seconds == 0) {
        return lookup("Upgrade1Page", "WaitingStatus", "Waiting");
    }
    // A worker whose steps outrun their estimate reports negative seconds: the device
    // is still busy, so keep showing the running form at 00:00 rather than a result.
    if (stage >= 0 && stage < stage::kFinished && seconds != 0) {
        int left = seconds > 0 ? seconds : 0;
        std::string remain = lookup("Upgrade1Page", "RemainTime", "Estimated time remaining:");
        return StrFormat("%d%% (%s%02d:%02d)", percent, remain.c_str(), left / 60, left % 60);
    }
    if (stage == stage::kUploading) {
        std::string uploading =
            lookup("ErrorCode", "Code_Uploading", "Uploading file... Please wait a few minutes.");
        return StrFormat("%s (%d%%)", uploading.c_str(), percent);
    }
    if (stage == stage::kFinished && code < 0) {
        switch (code) {
            case rc::kTimeout:
                return lookup("Upgrade1Page", "TimeoutStatus", "Timeout");
            case rc::kHttpUnauthorized:
                return lookup("Upgrade1Page", "PWErrorStatus", "Password error");
            case rc::kHttpNotFound:
                return lookup("Upgrade1Page", "NotExistsStatus", "Not exists");
            case rc::kNoNewerImage:
                return lookup("Upgrade1Page", "LatestFirmwareStatus", "The latest firmware");
            case rc::kLoginRefused:
                return lookup("ErrorCode", "Code_304",
                              "Failed! Please check the username and password.");
            case rc::kImageRejected:
                return lookup("ErrorCode", "Code_406", "Failed! Please check the firmware file.");
            case rc::kOldFirmwareStill:
                return lookup("ErrorCode", "Code_408",
                              "Failed! The device still runs the old firmware.");
            case rc::kNotConfirmed:
                return lookup("ErrorCode", "Code_NotConfirmed",
                              "Not confirmed: the run ended before the device was seen back.");
            case rc::kNoHttpUpgrade:
                return lookup("ErrorCode", "Code_701",
                              "Failed! The camera does not take firmware over the network.");
            case rc::kCameraInstallFailed:
                return lookup("ErrorCode", "Code_702",
                              "Failed! The camera could not install the firmware.");
            case rc::kNoCameraImage:
                return lookup("ErrorCode", "Code_703", "No firmware file chosen for this camera.");
            case rc::kFirstOfModelFailed:
                return lookup("ErrorCode", "Code_601",
                              "Not started: the first device of this model failed.");
            case rc::kTooManyFailures:
                return lookup("ErrorCode", "Code_602", "Not started: too many devices failed.");
            case rc::kPastWindow:
                return PastWindowText(windowEnd != 0 ? HourMinuteText(windowEnd) : "--:--", lookup);
            default:
                return lookup("ErrorCode", "Code_Other",
                              "Failed! Please check the network connection.");
        }
    }
    if (stage == stage::kFinished && code == rc::kReturnedLate) {
        return lookup("ErrorCode", "Code_ReturnedLate",
                      "Firmware upgrade successful (returned late).");
    }
    return lookup("Upgrade1Page", "FWUPGSuccess", "Firmware upgrade successful.");
}

std::string PastWindowText(const std::string& until, const TextLookup& lookup) {
    return ReplaceAll(
        lookup("ErrorCode", "Code_603", "Not started: it would not finish before %s."), "%s",
        until);
}

std::string StatusCellText(const UpgradeReport& report, const TextLookup& lookup) {
    return StatusCellText(report.Stage, report.Seconds, report.Percent, report.Code, lookup,
                          report.WindowEnd);
}

std::string ProgressLineText(const UpgradeReport& report, const TextLookup& lookup) {
    // Only these reach StatusCellText's closing success text before the end.
    const bool stepEnded = report.Stage != stage::kFinished && report.Stage != stage::kRunning &&
                           report.Stage != stage::kUploading && report.Seconds == 0;
    if (!stepEnded) return StatusCellText(report, lookup);
    if (report.Code >= 0) return std::string();
    return StatusCellText(stage::kFinished, 0, 100, report.Code, lookup, report.WindowEnd);
}
