#include "history/history_record.h"

#include <ctime>

#include "base/result_codes.h"
#include "base/text.h"

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
