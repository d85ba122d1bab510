#pragma once

#include <cstdint>
#include <string>

// The status of a scheduled upgrade.
namespace schedule_status {
constexpr int kNone = 0;       // its time passed without a start
constexpr int kWaiting = 1;    // waiting for its time
constexpr int kQueued = 2;     // its time has come; a start is pending
constexpr int kUploading = 3;  // the image is being sent
constexpr int kUpgrading = 4;  // started, or upload done and the device restarting
constexpr int kSuccessful = 5;
constexpr int kLoginFailed = 6;   // user name or password refused (-304)
constexpr int kImageFailed = 7;   // firmware file refused (-406)
constexpr int kOtherFailed = 8;   // any other error, or another device at the address
constexpr int kFirmwareLost = 9;  // FWPath does not exist
constexpr int kPastWindow = 10;   // not started: it would not have finished before Until
}  // namespace schedule_status

// One scheduled upgrade of one device; MAC is its key. A plain value, copied whole.
struct CScheduleInfo {
    std::string IP;
    std::string Port;  // decimal
    bool Https = false;
    std::string Account;
    std::string Password;
    std::string Device;
    std::string Model;
    std::string MAC;
    std::string Version;
    int64_t UpgradeTime = 0;  // seconds since 1970-01-01 00:00 UTC
    int32_t Status = schedule_status::kNone;
    std::string FWPath;
    // The end of its window, "HH:MM" local time: the first such moment from UpgradeTime
    // on. Empty: no window. Stored only when set.
    std::string Until;
    // An ONVIF camera: the path of its device service at IP and Port
    // ("/onvif/device_service"), stored as the attribute OnvifService; empty for the
    // maker's devices (files without the attribute).
    std::string OnvifService;
    // Set by a run, cleared when the next one starts; not stored in the file.
    int32_t UploadResult = 0;
    int32_t Result = 0;  // the run's final result code, where status 8 says less
    int64_t TotalBytes = 0;
    int64_t SentBytes = 0;
    // The version the device ran before the run (what it named, else Version at the
    // start), and the one it named after its return (empty when none was read).
    std::string VersionBefore;
    std::string VersionAfter;

    bool operator==(const CScheduleInfo&) const = default;
};
