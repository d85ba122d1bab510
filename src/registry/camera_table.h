#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/device_lookup.h"
#include "device/ip_cam_info.h"

// The MAC a record stands for, as MacKey gives it: the one its device named, else its
// key when that is a MAC (a device entered by address is keyed by it); empty if neither.
std::string RecordMac(const CIPCamInfo& record);

// Every device known in this run, keyed by its device identifier, with the order in
// which the keys were first seen. Search, dispatch and upgrade threads and the pages
// use it at once; every operation takes the table's lock, and records leave the table
// only as copies.
class CCameraTable final : public IDeviceLookup {
public:
    // A new key stores the record with seen count 1. A known key that is not pinned
    // counts one more sighting and takes the device's current name and address; the
    // rest of the stored record (credentials, check results, selection) stays.
    void AddOrUpdate(const std::string& key, const CIPCamInfo& record);

    // A copy of the record, if the key is listed (in the key order and stored).
    std::optional<CIPCamInfo> Find(const std::string& key) const override;

    // A copy of the first listed record, in key order, that `match` accepts. `match`
    // runs under the table's lock and must not call back into the table.
    std::optional<CIPCamInfo> FindListedIf(
        const std::function<bool(const CIPCamInfo&)>& match) const;

    // Runs `change` on the stored record of a listed key under the table's lock; false
    // when the key is not listed. `change` must not call back into the table.
    bool Modify(const std::string& key, const std::function<void(CIPCamInfo&)>& change);

    void Clear();

    // Unlists the key and zeroes its seen count and pin, so that the device must report
    // itself again; the record stays stored.
    void Remove(const std::string& key);

    // The stored record, listed or not (a device unlisted while it restarts).
    std::optional<CIPCamInfo> FindStored(const std::string& key) const override;

    // The device's firmware version, listed or not (a device back from its upgrade may
    // not have reported itself to a search yet).
    void SetFirmwareVersion(const std::string& key, const std::string& version);

    void SetCredentials(const std::string& key, const std::string& user,
                        const std::string& password, int32_t checked);

    // Listed devices whose Checked is exactly 1.
    int CountChecked() const;

    // The listed keys in the order they were first seen.
    std::vector<std::string> Keys() const;

private:
    bool Listed(const std::string& key) const;

    mutable std::mutex lock_;
    std::vector<std::string> order_;
    std::set<std::string> listed_;  // the keys of order_, for lookups in large tables
    std::map<std::string, CIPCamInfo> records_;
};
