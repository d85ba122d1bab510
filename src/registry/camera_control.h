#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/bc_multicast_search.h"
#include "discovery/search_listener.h"
#include "registry/camera_table.h"
#include "registry/registry_observer.h"
#include "registry/upgrade_manager_link.h"

// The hub between discovery and the pages: owns the search engine, stores every device
// it reports in the device table and tells the observer pages about it, and lets an
// upgrade that waits for a rebooting device find it again.
class CCameraControl final : public ISearchListener {
public:
    static constexpr const char* kAcceptedVendor = "Quorlent";

    // `upgradeManager` may be null where no upgrade runs (the command-line search); the
    // table and the upgrade manager must outlive this object.
    CCameraControl(CCameraTable& table, IUpgradeManager* upgradeManager);
    // Stops the engine and waits for its receive thread before anything else goes.
    ~CCameraControl() override;
    CCameraControl(const CCameraControl&) = delete;
    CCameraControl& operator=(const CCameraControl&) = delete;

    // Registers a page for the notifications of IRegistryObserver. The page must outlive
    // this object: a search may report until the destructor has stopped it.
    void Attach(IRegistryObserver& observer);

    // Limits searches to the adapters with these interface names; empty: every adapter.
    void SetSearchInterfaces(const std::vector<std::string>& names);

    // Empties the device table and starts a search.
    void StartSearch();

    // True while a search still listens for replies.
    bool IsSearching() const;

    // Called by the engine on its receive thread for every device it accepts.
    void DeviceReported(const CIPCamInfo& record) override;

    // Stores the credentials and the selection the page holds for a device.
    void SetDeviceCredentials(const std::string& key, const std::string& user,
                              const std::string& password, int32_t checked);

    // For an upgrade waiting on a rebooted device: keeps a search running so the device
    // can report itself, and when it has (seen count above 0) passes its address to the
    // upgrade manager's DeviceSeenAgain and returns true.
    bool CheckDeviceReturned(const std::string& key);

    // The Upgrade command and its dispatch threads join this class with the upgrade
    // dispatch; they notify the observers through NotifyObservers.

private:
    // The engine, created on first use; called under engineLock_.
    CBCMulticastSearch& Engine();
    void NotifyObservers(const std::function<void(IRegistryObserver&)>& notify);

    CCameraTable& table_;
    IUpgradeManager* const upgradeManager_;

    mutable std::mutex engineLock_;  // guards multicast_ and interfaces_
    std::unique_ptr<CBCMulticastSearch> multicast_;
    std::vector<std::string> interfaces_;

    std::mutex observerLock_;  // held while observers are notified
    std::vector<IRegistryObserver*> observers_;
};
