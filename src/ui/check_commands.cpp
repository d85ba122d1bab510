#include "ui/check_commands.h"

std::vector<int> CheckOutcomeCommands(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::Passed:
            return {command::kCheckPassed};
        case CheckOutcome::NvrLoginFailed:
            return {command::kCheckFailed, command::kNvrLoginFailed};
        case CheckOutcome::Unreachable:
            return {command::kCheckFailed, command::kServerUnreachable};
        case CheckOutcome::Failed:
            break;
    }
    return {command::kCheckFailed};
}

void CCheckCommands::CredentialCheckEnded(const std::string& deviceId, CheckOutcome outcome) {
    // A device dropped from the table meanwhile (a new search) has no row to tell.
    const std::optional<CIPCamInfo> record = table_.Find(deviceId);
    if (!record) return;
    for (int command : CheckOutcomeCommands(outcome)) post_(command, *record);
}
