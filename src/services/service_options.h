#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "firmware/host_probes.h"
#include "history/history_file.h"
#include "upgrade/batch_guard.h"
#include "upgrade/upgrade_manager.h"

// What a program's core services are built from. Plain values: each front end fills in
// what it resolved from its settings or its command line.
struct CoreServiceOptions {
    std::string HistoryFile;  // empty: DefaultHistoryFile(); the in-flight journal lies beside it
    // The firmware store the dispatch takes images from; none when empty.
    std::string StorageFolder;
    std::string ServerBase;  // the catalogue's server; empty: never asked
    NetworkProbe Network = [] { return false; };
    // An upgrade manager and the upgrade history; without them the camera control only
    // searches and enters devices.
    bool Upgrades = false;
    CUpgradeManager::JobRunner UpgradeRunner;  // empty: the real upgrade workers
    int64_t LateWatchMs = 0;                   // Clock milliseconds; 0: no late watch
    HistoryProblem HistoryProblemHandler;      // an outcome the history could not keep
};

// The schedule runner's part, for a program that runs the schedule.
struct ScheduleServiceOptions {
    std::string SchedulePath;
    // A device that does not answer at its entry's address after its image is searched
    // for with the camera control.
    bool FindDevicesBack = false;
    std::function<BatchPolicy()> BatchPolicySource;
    int64_t LateWatchMs = 0;                         // Clock milliseconds; 0: no late watch
    std::function<void(const std::string&)> Notice;  // none: traced only
    HistoryProblem HistoryProblemHandler;
};
