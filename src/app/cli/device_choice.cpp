#include "app/cli/device_choice.h"

#include <algorithm>
#include <optional>
#include <set>

std::vector<std::string> ChooseDevices(const CCameraTable& table, bool all,
                                       const std::vector<std::string>& requested,
                                       std::vector<std::string>& missing) {
    if (all) return table.Keys();
    std::vector<std::string> listed;
    std::set<std::string> asked;
    for (const std::string& id : requested) {
        if (!asked.insert(id).second) continue;
        if (table.Find(id)) {
            listed.push_back(id);
        } else {
            missing.push_back(id);
        }
    }
    return ListedKeys(table, listed);
}

std::vector<std::string> ListedKeys(const CCameraTable& table,
                                    const std::vector<std::string>& keys) {
    std::vector<std::string> listed;
    for (const std::string& key : keys) {
        const std::optional<CIPCamInfo> record = table.Find(key);
        const std::string& kept = record ? record->DeviceId : key;
        if (std::find(listed.begin(), listed.end(), kept) == listed.end()) listed.push_back(kept);
    }
    return listed;
}
