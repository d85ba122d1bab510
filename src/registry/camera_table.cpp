#include "registry/camera_table.h"

#include <algorithm>

#include "device/mac_key.h"

std::string RecordMac(const CIPCamInfo& record) {
    const std::string named = MacKey(record.MacAddress);
    return named.empty() ? MacKey(record.DeviceId) : named;
}

void CCameraTable::AddOrUpdate(const std::string& key, const CIPCamInfo& record) {
    std::lock_guard lock(lock_);
    auto found = records_.find(key);
    if (found == records_.end()) {
        CIPCamInfo& stored = records_[key];
        stored.UpdateFrom(record);
        stored.SeenCount = 1;
        stored.StampLastSeen();
    } else if (!found->second.Pinned) {
        CIPCamInfo& stored = found->second;
        ++stored.SeenCount;
        stored.StampLastSeen();
        // A device may come back from its reboot under a new address (a DHCP lease);
        // the upgrade that waits for it and the page showing it need the current one.
        stored.DeviceName = record.DeviceName;
        stored.HostAddress = record.HostAddress;
        stored.HttpPort = record.HttpPort;
        stored.HttpsPort = record.HttpsPort;
        if (record.Protocol == DeviceProtocol::Onvif) {
            // The scheme and the service's addresses come with the address.
            stored.HttpsFlag = record.HttpsFlag;
            stored.ServiceAddresses = record.ServiceAddresses;
        }
    }
    if (listed_.insert(key).second) order_.push_back(key);
}

std::optional<CIPCamInfo> CCameraTable::Find(const std::string& key) const {
    std::lock_guard lock(lock_);
    auto found = records_.find(key);
    if (found == records_.end() || !Listed(key)) return std::nullopt;
    return found->second;
}

bool CCameraTable::Modify(const std::string& key, const std::function<void(CIPCamInfo&)>& change) {
    std::lock_guard lock(lock_);
    auto found = records_.find(key);
    if (found == records_.end() || !Listed(key)) return false;
    change(found->second);
    return true;
}

std::optional<CIPCamInfo> CCameraTable::FindListedIf(
    const std::function<bool(const CIPCamInfo&)>& match) const {
    std::lock_guard lock(lock_);
    for (const std::string& key : order_) {
        auto found = records_.find(key);
        if (found != records_.end() && match(found->second)) return found->second;
    }
    return std::nullopt;
}

void CCameraTable::Clear() {
    std::lock_guard lock(lock_);
    order_.clear();
    listed_.clear();
    records_.clear();
}

void CCameraTable::Remove(const std::string& key) {
    std::lock_guard lock(lock_);
    if (listed_.erase(key) > 0) std::erase(order_, key);
    if (auto found = records_.find(key); found != records_.end()) {
        found->second.SeenCount = 0;
        found->second.Pinned = 0;
    }
}

std::optional<CIPCamInfo> CCameraTable::FindStored(const std::string& key) const {
    std::lock_guard lock(lock_);
    auto found = records_.find(key);
    if (found == records_.end()) return std::nullopt;
    return found->second;
}

void CCameraTable::SetFirmwareVersion(const std::string& key, const std::string& version) {
    std::lock_guard lock(lock_);
    if (auto found = records_.find(key); found != records_.end())
        found->second.FirmwareVersion = version;
}

void CCameraTable::SetCredentials(const std::string& key, const std::string& user,
                                  const std::string& password, int32_t checked) {
    std::lock_guard lock(lock_);
    auto found = records_.find(key);
    if (found == records_.end()) return;
    found->second.UserName = user;
    found->second.Password = password;
    found->second.Checked = checked;
}

int CCameraTable::CountChecked() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(
        std::count_if(order_.begin(), order_.end(), [&](const std::string& key) {
            auto found = records_.find(key);
            return found != records_.end() && found->second.Checked == 1;
        }));
}

std::vector<std::string> CCameraTable::Keys() const {
    std::lock_guard lock(lock_);
    return order_;
}

bool CCameraTable::Listed(const std::string& key) const { return listed_.count(key) > 0; }
