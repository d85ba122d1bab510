#include "history/history_record.h"

#include <ctime>

#include "base/result_codes.h"
#include "base/text.h"

std::vector<UpgradeHistoryRecord> AmendLateReturns(std::vector<UpgradeHistoryRecord> records) {
    std::vector<bool> replaced(records.size(), false);
    for (size_t late = 0; late < records.size(); ++late) {
        if (records[late].Code != rc::kReturnedLate || records[late].DeviceId.empty()) continue;
        // The device's outcome just before: only a failure of the same image is amended.
        for (size_t before = late; before-- > 0;) {
            const UpgradeHistoryRecord& r = records[before];
            if (replaced[before] || r.DeviceId != records[late].DeviceId) continue;
            if (r.Code == rc::kNotSeenAgain && r.ImageMd5 == records[late].ImageMd5) {
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
