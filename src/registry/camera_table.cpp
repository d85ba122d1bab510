#include "registry/camera_table.h"

#include <algorithm>

#include "device/mac_key.h"

namespace {

// A device that answers on two protocols is upgraded through the one of the higher rank
// (the maker's over ONVIF).
bool Outranks(const CIPCamInfo& record, const CIPCamInfo& stored) {
    return FactsOf(record.Protocol).Rank > FactsOf(stored.Protocol).Rank;
}

// The report of a device over its higher-ranked protocol: it is upgraded through that
// procedure, reached where that search found it (the maker's report of a device listed
// from its ONVIF one). The service's addresses, serial number and log-in results stay.
void TakeSide(CIPCamInfo& stored, const CIPCamInfo& higher) {
    stored.Protocol = higher.Protocol;
    stored.DeviceName = higher.DeviceName;
    stored.ModelName = higher.ModelName;
    stored.ProductModel = higher.ProductModel;
    stored.VendorName = higher.VendorName;
    stored.HostAddress = higher.HostAddress;
    stored.HttpFlag = higher.HttpFlag;
    stored.HttpsFlag = higher.HttpsFlag;
    stored.HttpPort = higher.HttpPort;
    stored.HttpsPort = higher.HttpsPort;
    stored.DiscoveryKind = higher.DiscoveryKind;
    stored.Detail = higher.Detail;
    stored.RawReply = higher.RawReply;
}

}  // namespace

std::string RecordMac(const CIPCamInfo& record) {
    const std::string named = MacKey(record.MacAddress);
    return named.empty() ? MacKey(record.DeviceId) : named;
}

std::string LoggedInMac(const CIPCamInfo& record) { return MacKey(record.MacAddress); }

std::string CCameraTable::AddOrUpdate(const std::string& key, const CIPCamInfo& record) {
    std::lock_guard lock(lock_);
    if (auto alias = aliases_.find(key); alias != aliases_.end()) {
        const std::string stored = alias->second;
        // The ONVIF service of a device may answer on another port than its web pages.
        if (!record.HostAddress.empty() && records_.at(stored).HostAddress == record.HostAddress) {
            Join(records_.at(stored), record);
            List(stored);
            return stored;
        }
        aliases_.erase(alias);
    }
    auto found = records_.find(key);
    if (found == records_.end()) {
        if (std::optional<std::string> same = SameDevice(record)) {
            Join(records_.at(*same), record);
            aliases_[key] = *same;
            return *same;
        }
        if (records_.size() >= kMaxDevices) {
            ++refused_;
            return std::string();
        }
        CIPCamInfo& stored = records_[key];
        stored.UpdateFrom(record);
        stored.SeenCount = 1;
        stored.StampLastSeen();
    } else if (!found->second.Pinned) {
        CIPCamInfo& stored = found->second;
        ++stored.SeenCount;
        stored.StampLastSeen();
        // A camera listed from its ONVIF reply and upgraded through the maker's protocol
        // is reached where the maker's search found it: its ONVIF reply only counts.
        if (record.Protocol == stored.Protocol) {
            // A device may come back from its reboot under a new address (a DHCP lease);
            // the upgrade that waits for it and the page showing it need the current one.
            stored.DeviceName = record.DeviceName;
            stored.HostAddress = record.HostAddress;
            stored.HttpPort = record.HttpPort;
            stored.HttpsPort = record.HttpsPort;
        }
        if (record.Protocol == stored.Protocol && FactsOf(record.Protocol).ServiceAddressed) {
            // The scheme and the service's addresses come with the address.
            stored.HttpsFlag = record.HttpsFlag;
            stored.ServiceAddresses = record.ServiceAddresses;
        }
    }
    List(key);
    return key;
}

std::optional<std::string> CCameraTable::SameDevice(const CIPCamInfo& record) const {
    const std::string mac = LoggedInMac(record);
    std::vector<std::string> same;
    for (const std::string& key : order_) {
        const CIPCamInfo& stored = records_.at(key);
        if (stored.HostAddress.empty() || stored.HostAddress != record.HostAddress) continue;
        // One device answers at an address and port at a time, as a log-in there showed
        // for one side (two claims of it prove nothing; a log-in that named another MAC
        // shows another device); on another port, log-ins on both sides name one MAC.
        const bool sameMac = !mac.empty() && LoggedInMac(stored) == mac;
        const bool samePort = stored.GetPort() == record.GetPort() &&
                              (!mac.empty() || !LoggedInMac(stored).empty()) &&
                              !NamesAnotherMac(stored.MacAddress, record.MacAddress);
        if (sameMac || samePort) same.push_back(key);
    }
    if (same.size() != 1) return std::nullopt;
    return same.front();
}

void CCameraTable::Join(CIPCamInfo& stored, const CIPCamInfo& record) {
    if (stored.Pinned) return;
    ++stored.SeenCount;
    stored.StampLastSeen();
    if (LoggedInMac(stored).empty() && !LoggedInMac(record).empty()) {
        stored.MacAddress = record.MacAddress;
    }
    if (Outranks(record, stored)) {
        TakeSide(stored, record);
    } else if (FactsOf(record.Protocol).ServiceAddressed && stored.ServiceAddresses.empty()) {
        stored.ServiceAddresses = record.ServiceAddresses;
    }
}

void CCameraTable::SetMergeListener(MergeListener listener) {
    std::lock_guard lock(listenerLock_);
    listener_ = std::move(listener);
}

bool CCameraTable::Merge(const std::string& kept, const std::string& gone) {
    Merged merged;
    {
        std::lock_guard lock(lock_);
        merged = Absorb(StoredKey(kept), StoredKey(gone));
    }
    TellMerged(merged);
    return merged.has_value();
}

CCameraTable::Merged CCameraTable::FoldSameMac(const std::string& key) {
    const CIPCamInfo& changed = records_.at(key);
    const std::string mac = LoggedInMac(changed);
    std::vector<std::string> naming;
    for (const std::string& other : order_) {
        const CIPCamInfo& r = records_.at(other);
        // At another address one MAC is a clone as likely as the same device: it proves
        // nothing (a device back elsewhere is merged by the camera control).
        if (other != key && r.HostAddress == changed.HostAddress && LoggedInMac(r) == mac) {
            naming.push_back(other);
        }
    }
    if (naming.size() != 1) return std::nullopt;
    const auto first = std::find_if(order_.begin(), order_.end(), [&](const std::string& k) {
        return k == key || k == naming.front();
    });
    return *first == key ? Absorb(key, naming.front()) : Absorb(naming.front(), key);
}

CCameraTable::Merged CCameraTable::Absorb(const std::string& kept, const std::string& gone) {
    auto keep = records_.find(kept);
    auto away = records_.find(gone);
    if (keep == records_.end() || away == records_.end() || kept == gone) return std::nullopt;
    CIPCamInfo& stored = keep->second;
    if (Outranks(away->second, stored)) TakeSide(stored, away->second);
    if (LoggedInMac(stored).empty()) stored.MacAddress = away->second.MacAddress;
    records_.erase(away);
    if (listed_.erase(gone) > 0) std::erase(order_, gone);
    for (auto& [name, target] : aliases_) {
        if (target == gone) target = kept;
    }
    aliases_[gone] = kept;
    return std::make_pair(gone, kept);
}

void CCameraTable::TellMerged(const Merged& merged) {
    if (!merged) return;
    std::lock_guard lock(listenerLock_);
    if (listener_) listener_(merged->first, merged->second);
}

std::optional<CIPCamInfo> CCameraTable::Find(const std::string& key) const {
    std::lock_guard lock(lock_);
    const std::string stored = StoredKey(key);
    auto found = records_.find(stored);
    if (found == records_.end() || !Listed(stored)) return std::nullopt;
    return found->second;
}

bool CCameraTable::Modify(const std::string& key, const std::function<void(CIPCamInfo&)>& change) {
    Merged merged;
    {
        std::lock_guard lock(lock_);
        const std::string stored = StoredKey(key);
        auto found = records_.find(stored);
        if (found == records_.end() || !Listed(stored)) return false;
        const std::string macBefore = LoggedInMac(found->second);
        change(found->second);
        const std::string mac = LoggedInMac(found->second);
        if (!mac.empty() && mac != macBefore) merged = FoldSameMac(stored);
    }
    TellMerged(merged);
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
    aliases_.clear();
    refused_ = 0;
}

size_t CCameraTable::Refused() const {
    std::lock_guard lock(lock_);
    return refused_;
}

void CCameraTable::Remove(const std::string& key) {
    std::lock_guard lock(lock_);
    const std::string stored = StoredKey(key);
    if (listed_.erase(stored) > 0) std::erase(order_, stored);
    if (auto found = records_.find(stored); found != records_.end()) {
        found->second.SeenCount = 0;
        found->second.Pinned = 0;
    }
}

std::optional<CIPCamInfo> CCameraTable::FindStored(const std::string& key) const {
    std::lock_guard lock(lock_);
    auto found = records_.find(StoredKey(key));
    if (found == records_.end()) return std::nullopt;
    return found->second;
}

void CCameraTable::SetFirmwareVersion(const std::string& key, const std::string& version) {
    std::lock_guard lock(lock_);
    if (auto found = records_.find(StoredKey(key)); found != records_.end())
        found->second.FirmwareVersion = version;
}

void CCameraTable::SetCredentials(const std::string& key, const std::string& user,
                                  const std::string& password, int32_t checked) {
    std::lock_guard lock(lock_);
    auto found = records_.find(StoredKey(key));
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

std::string CCameraTable::StoredKey(const std::string& key) const {
    if (records_.count(key) > 0) return key;
    auto alias = aliases_.find(key);
    return alias == aliases_.end() ? key : alias->second;
}

void CCameraTable::List(const std::string& key) {
    if (listed_.insert(key).second) order_.push_back(key);
}
