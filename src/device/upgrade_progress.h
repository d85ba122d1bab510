#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The stages an upgrade reports, with (seconds left, percent, result code).
namespace stage {
constexpr int kRunning = 0;      // queued (0 seconds) or running with an estimate
constexpr int kEndedEarly = 1;   // ended before any upload; stage 32 follows
constexpr int kUploadEnded = 2;  // the upload step ended
constexpr int kUploading = 3;    // the image is being sent; percent of it sent
constexpr int kFinished = 32;    // final; the result code stands
}  // namespace stage

struct UpgradeReport {
    std::string DeviceId;
    int Stage = stage::kRunning;
    int Seconds = 0;
    int Percent = 0;
    int Code = 0;
    // With a final report: the firmware version the device reported after its return
    // (empty when none was read).
    std::string FirmwareVersion;
    // With a device not started for its window (-603): the window's end, seconds since
    // 1970.
    int64_t WindowEnd = 0;
};

// Looks up a user-visible text: (section, key, built-in default) -> text.
using TextLookup = std::function<std::string(std::string_view section, std::string_view key,
                                             std::string_view def)>;

// A lookup that always answers with the built-in default.
std::string DefaultText(std::string_view section, std::string_view key, std::string_view def);

// The text of a device's status cell for one progress report; `windowEnd` as in
// UpgradeReport.
std::string StatusCellText(int stage, int seconds, int percent, int code, const TextLookup& lookup,
                           int64_t windowEnd = 0);
std::string StatusCellText(const UpgradeReport& report, const TextLookup& lookup);

// The text of a report for a reader of every report in turn (the CLI's lines): as
// StatusCellText, except that a report before the final one never claims success. A
// step that ended without time left (stages 1 and 2) carries its failure's text, or
// none when it did not fail.
std::string ProgressLineText(const UpgradeReport& report, const TextLookup& lookup);

// "Not started: it would not finish before HH:MM." with `until` as HH:MM.
std::string PastWindowText(const std::string& until, const TextLookup& lookup);
