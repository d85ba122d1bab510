#include "app/cli/history_warnings.h"

#include "app/cli/terminal.h"

HistoryProblem HistoryWarnings::Handler() {
    return [this](const std::string& file, const std::string& reason) {
        std::lock_guard lock(lock_);
        ++counts_[{file, reason}];
    };
}

void HistoryWarnings::Print(const std::string& command) const {
    std::lock_guard lock(lock_);
    for (const auto& [where, count] : counts_) {
        PrintError("strelvane-cli " + command + ": " +
                   HistoryProblemText(count, where.first, where.second));
    }
}
