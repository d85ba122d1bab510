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

// The MAC a log-in answer named for the device (its system list to a credential check,
// its network page to an entry by address), as MacKey gives it; empty if none did. A
// search's identifier is a claim anyone on the LAN can make and never counts here.
std::string LoggedInMac(const CIPCamInfo& record);

// Every device known in this run, one record each, keyed by the device identifier it
// was first stored under, with the order in which the keys were first seen. Search,
// dispatch and upgrade threads and the pages use it at once; every operation takes the
// table's lock, and records leave the table only as copies.
//
// One device is found in several ways (the maker's search, WS-Discovery, an address or
// a range, each with an identifier of its own), in any order. A report under a new key
// joins the listed record of the same device at its address: the one at the same port
// when a log-in there named the MAC of either (one device answers at an address and
// port at a time), or the one whose log-in named the same MAC as the report's. Two
// records at one address whose log-ins name one MAC become one. The other key then
// names the record (every lookup finds it by either), and the device is listed once.
// One MAC at two addresses proves nothing (cloned MACs exist). A device that answers
// both the maker's protocol and ONVIF is upgraded through the maker's: the maker's
// report wins the protocol.
class CCameraTable final : public IDeviceLookup {
public:
    // Devices stored at most: a flood of replies, each naming a new device, must not take
    // the memory. Reports of new devices beyond it are refused (and counted).
    static constexpr size_t kMaxDevices = 4096;

    // A new key of a new device stores the record with seen count 1. A known key that is
    // not pinned counts one more sighting and takes the device's current name and
    // address; the rest of the stored record (credentials, check results, selection)
    // stays. A second name of a record counts a sighting only at the record's host:
    // elsewhere it proves nothing, and it is a new key again. Returns the key the device
    // is stored under; empty when a new device would pass kMaxDevices.
    std::string AddOrUpdate(const std::string& key, const CIPCamInfo& record);

    // Told, with no lock held, when two listed records turned out to be one device (a
    // log-in named the MAC of another, or a device came back where another was listed):
    // `gone` left the key order and now names the record of `kept`.
    using MergeListener = std::function<void(const std::string& gone, const std::string& kept)>;
    // One listener at a time; an empty one ends the calls (waiting for one under way).
    // The listener must not change the table.
    void SetMergeListener(MergeListener listener);

    // Makes the listed record of `gone` a second name of the record of `kept` (a device
    // back at another address, listed there under another key); false unless both are
    // stored and differ.
    bool Merge(const std::string& kept, const std::string& gone);

    // A copy of the record, if the key is listed (in the key order and stored).
    std::optional<CIPCamInfo> Find(const std::string& key) const override;

    // A copy of the first listed record, in key order, that `match` accepts. `match`
    // runs under the table's lock and must not call back into the table.
    std::optional<CIPCamInfo> FindListedIf(
        const std::function<bool(const CIPCamInfo&)>& match) const;

    // Runs `change` on the stored record of a listed key under the table's lock; false
    // when the key is not listed. `change` must not call back into the table. A change
    // that gives the record a log-in's MAC another listed record at its address holds
    // makes them one: the one listed first stays.
    bool Modify(const std::string& key, const std::function<void(CIPCamInfo&)>& change);

    void Clear();
    // Reports of new devices refused since the last Clear, the table being full.
    size_t Refused() const;

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
    using Merged = std::optional<std::pair<std::string, std::string>>;  // gone, kept

    // Called under lock_.
    bool Listed(const std::string& key) const;
    // The key a record is stored under, for a key or another name of it.
    std::string StoredKey(const std::string& key) const;
    void List(const std::string& key);
    // The listed record of the device that `record` reports under a new key, if any.
    std::optional<std::string> SameDevice(const CIPCamInfo& record) const;
    void Join(CIPCamInfo& stored, const CIPCamInfo& record);
    // The listed record other than `key`'s at its address naming its MAC, made one with it.
    Merged FoldSameMac(const std::string& key);
    Merged Absorb(const std::string& kept, const std::string& gone);
    // Called with no lock held.
    void TellMerged(const Merged& merged);

    mutable std::mutex lock_;
    std::vector<std::string> order_;
    std::set<std::string> listed_;  // the keys of order_, for lookups in large tables
    std::map<std::string, CIPCamInfo> records_;
    std::map<std::string, std::string> aliases_;  // another name -> the stored key
    size_t refused_ = 0;

    std::mutex listenerLock_;  // held while the listener runs
    MergeListener listener_;
};
