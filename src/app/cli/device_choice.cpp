#include "app/cli/device_choice.h"

#include <algorithm>
#include <optional>
#include <set>

#include "base/text.h"
#include "discovery/ws_discovery_messages.h"

namespace {

// The key the table knows `id` by: as typed, else a listed key that differs only in
// case (a MAC typed in lower case, an endpoint UUID in upper case or as "uuid:").
std::optional<std::string> KnownKey(const CCameraTable& table, const std::string& id) {
    if (table.Find(id)) return id;
    const std::string wanted = UuidKey(id);
    for (const std::string& key : table.Keys()) {
        if (EqualsNoCase(key, wanted)) return key;
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> ChooseDevices(const CCameraTable& table, bool all,
                                       const std::vector<std::string>& requested,
                                       std::vector<std::string>& missing) {
    if (all) return table.Keys();
    std::vector<std::string> listed;
    std::set<std::string> asked;
    for (const std::string& id : requested) {
        if (!asked.insert(id).second) continue;
        if (std::optional<std::string> key = KnownKey(table, id)) {
            listed.push_back(*key);
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
