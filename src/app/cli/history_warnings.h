#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "history/history_file.h"

// The outcomes of a run that the upgrade history could not keep (a full disk), told on
// standard error once the run has ended, one line per file and reason, so that they
// neither break into the drawing of a terminal view nor go unsaid.
class HistoryWarnings {
public:
    // The handler to give the history; safe from any thread.
    HistoryProblem Handler();

    // "strelvane-cli COMMAND: 3 outcomes could not be recorded in the history FILE: REASON"
    void Print(const std::string& command) const;

private:
    mutable std::mutex lock_;
    std::map<std::pair<std::string, std::string>, int> counts_;  // (file, reason) → outcomes
};
