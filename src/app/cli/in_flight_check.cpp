#include "app/cli/in_flight_check.h"

#include "app/cli/terminal.h"
#include "upgrade/in_flight_journal.h"
#include "upgrade/in_flight_review.h"

void ReviewCutShortUpgrades(const std::string& command, const std::string& historyPath,
                            const std::string& password) {
    const CInFlightJournal journal(InFlightJournalFile(historyPath));
    const InFlightReview review =
        ReviewInFlight(journal, InFlightOrigin::Upgrade, historyPath,
                       [&password](const InFlightDevice&) { return password; });
    const int looked = review.Upgraded + review.Failed + review.NotConfirmed;
    if (looked == 0) return;
    PrintError("strelvane-cli " + command + ": looked at " + std::to_string(looked) +
               " device(s) an interrupted run left unconfirmed: " +
               std::to_string(review.Upgraded) + " upgraded, " + std::to_string(review.Failed) +
               " failed, " + std::to_string(review.NotConfirmed) + " still not confirmed");
}
