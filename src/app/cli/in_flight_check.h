#pragma once

#include <string>

// Looks once at the devices of the upgrades that a run cut short (a signal, a crash) left
// in flight beside the history at `historyPath`, logging in with `password`, and amends
// the history with what it finds; says on standard error what that was, naming
// `command`. Bounded: one look per device, several at a time.
void ReviewCutShortUpgrades(const std::string& command, const std::string& historyPath,
                            const std::string& password);
