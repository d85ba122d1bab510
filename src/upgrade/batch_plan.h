#pragma once

#include <string>
#include <vector>

#include "device/upgrade_progress.h"
#include "upgrade/batch_guard.h"

// What the confirmation of an upgrade says of the run before it starts: of how many
// devices of how many models, how many start at once and how many wait for the first
// device of their model.
struct BatchPlan {
    int Devices = 0;
    int Models = 0;
    int StartNow = 0;
    int WaitForFirst = 0;

    bool operator==(const BatchPlan&) const = default;
};

// The plan for devices of `models` (one entry per device) under `policy`, with at most
// `places` uploads at once.
BatchPlan PlanBatch(const std::vector<std::string>& models, const BatchPolicy& policy, int places);

// The plan in words ([UI_PopupMessage] Msg3Plan, and Msg3Wait while devices wait for
// the first of their model), to follow the confirmation's question.
std::string BatchPlanText(const BatchPlan& plan, const TextLookup& lookup);
