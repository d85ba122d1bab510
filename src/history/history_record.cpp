#include "history/history_record.h"

#include <ctime>

#include "base/result_codes.h"
#include "base/text.h"

namespace {

// Whether the record `late` was written to amend `before` (the device's latest record
// before it): a late return amends a device that was not seen again or not confirmed; a
// look after a cut-short run that found the old firmware amends one not confirmed.
bool Amends(const UpgradeHistoryRecord& late, const UpgradeHistoryRecord& before) {
    if (late.ImageMd5 != before.ImageMd5) return false;
    if (late.Code == rc::kReturnedLate) {
        return before.Code == rc::kNotSeenAgain || before.Code == rc::kNotConfirmed;
    }
    return late.Code == rc::kOldFirmwareStill && before.Code == rc::kNotConfirmed;
}

// Records of one device: by its identifier, or (the schedule's, which have none) by MAC.
bool SameDevice(const UpgradeHistoryRecord& a, const UpgradeHistoryRecord& b) {
    if (!a.DeviceId.empty() || !b.DeviceId.empty()) return a.DeviceId == b.DeviceId;
    return !a.Mac.empty() && EqualsNoCase(a.Mac, b.Mac);
}

}  // namespace

std::vector<UpgradeHistoryRecord> AmendLateReturns(std::vector<UpgradeHistoryRecord> records) {
    std::vector<bool> replaced(records.size(), false);
    for (size_t late = 0; late < records.size(); ++late) {
        const int code = records[late].Code;
        if (code != rc::kReturnedLate && code != rc::kOldFirmwareStill) continue;
        if (records[late].DeviceId.empty() && records[late].Mac.empty()) continue;
        // The device's outcome just before: only a failure of the same image is amended.
        for (size_t before = late; before-- > 0;) {
            const UpgradeHistoryRecord& r = records[before];
            if (replaced[before] || !SameDevice(r, records[late])) continue;
            if (Amends(records[late], r)) {
                records[before] = records[late];
                replaced[late] = true;
            }
            break;
        }
    }
    std::vector<UpgradeHistoryRecord> amended;
    amended.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (!replaced[i]) amended.push_back(std::move(records[i]));
    }
    return amended;
}

OutcomeKind OutcomeOf(int code) {
    if (code >= 0) return OutcomeKind::Upgraded;
    return code == rc::kNoNewerImage ? OutcomeKind::UpToDate : OutcomeKind::Failed;
}

void OutcomeCounts::Add(int code) {
    switch (OutcomeOf(code)) {
        case OutcomeKind::Upgraded:
            ++Upgraded;
            break;
        case OutcomeKind::UpToDate:
            ++UpToDate;
            break;
        case OutcomeKind::Failed:
            ++Failed;
            break;
    }
}

std::string OutcomeSummary(const OutcomeCounts& counts) {
    return StrFormat("%d upgraded, %d already up to date, %d failed", counts.Upgraded,
                     counts.UpToDate, counts.Failed);
}

std::string UtcTimeText(int64_t time) {
    const auto seconds = static_cast<std::time_t>(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts));
}
