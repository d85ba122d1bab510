#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "history/history_record.h"
#include "upgrade/in_flight_journal.h"

// The next start's look at the devices a run left in flight (CInFlightJournal).

// What one look found.
enum class InFlightFinding {
    Upgraded,      // back with another version than before
    OldFirmware,   // back with the version it ran before, the images being the store's
    NotConfirmed,  // not found, not proved to be the device, or nothing to tell by
};

// The password to log in to `device` with: the program that looks has one for it (the
// command's, the schedule entry's) or gives the default one.
using InFlightPassword = std::function<std::string(const InFlightDevice& device)>;

struct InFlightReview {
    int Upgraded = 0;
    int Failed = 0;
    int NotConfirmed = 0;
};

struct InFlightLook {
    InFlightFinding Finding = InFlightFinding::NotConfirmed;
    std::string Version;  // the version the device named; empty when none was read
};

// One bounded look at the device (one request over its scheme, then the other; an ONVIF
// camera through its device service), with `timeoutMs` for each request. A maker's
// device counts only when its system list names the journal's MAC, a camera only when
// its network interface does.
InFlightLook LookAtInFlight(const InFlightDevice& device, const std::string& password,
                            int timeoutMs);

// The history record that stands for the device now, given its record as the run left
// it (`left`: code -11 or -10) and what the look found; nothing when the history stays
// as it is (the device was not confirmed; a device that ended as not seen again, -10,
// is amended only by its return with new firmware).
std::optional<UpgradeHistoryRecord> AmendedRecord(const UpgradeHistoryRecord& left,
                                                  const InFlightLook& look, int64_t now);

// Takes the devices of `origin` that no live process runs out of `journal`, looks at
// each once (several at a time; a few seconds in all) and amends the history at
// `historyPath`: a device whose run ended before its outcome was written (a crash) gets
// its "not confirmed" record first. Blocks: call it off any thread that draws.
InFlightReview ReviewInFlight(const CInFlightJournal& journal, InFlightOrigin origin,
                              const std::string& historyPath, const InFlightPassword& password);
