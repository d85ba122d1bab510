#include "upgrade/batch_plan.h"

#include <algorithm>
#include <set>

#include "base/text.h"

BatchPlan PlanBatch(const std::vector<std::string>& models, const BatchPolicy& policy, int places) {
    std::set<std::string> distinct;
    for (const std::string& model : models) distinct.insert(BatchModelKey(model));
    BatchPlan plan;
    plan.Devices = static_cast<int>(models.size());
    plan.Models = static_cast<int>(distinct.size());
    const int candidates = policy.FirstOfEachModel ? plan.Models : plan.Devices;
    plan.WaitForFirst = plan.Devices - candidates;
    plan.StartNow = std::min(candidates, places);
    if (policy.MaxFailures > 0) plan.StartNow = std::min(plan.StartNow, policy.MaxFailures);
    return plan;
}

std::string BatchPlanText(const BatchPlan& plan, const TextLookup& lookup) {
    std::string text =
        lookup("UI_PopupMessage", "Msg3Plan", "Devices starting now: %1 of %2 (models: %3).");
    text = ReplaceAll(std::move(text), "%1", std::to_string(plan.StartNow));
    text = ReplaceAll(std::move(text), "%2", std::to_string(plan.Devices));
    text = ReplaceAll(std::move(text), "%3", std::to_string(plan.Models));
    if (plan.WaitForFirst > 0) {
        text += "\n" + ReplaceAll(lookup("UI_PopupMessage", "Msg3Wait",
                                         "Waiting for the first device of their model: %1."),
                                  "%1", std::to_string(plan.WaitForFirst));
    }
    return text;
}
