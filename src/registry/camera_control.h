#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/thread_group.h"
#include "device/dispatch_images.h"
#include "device/registry_observer.h"
#include "discovery/search.h"
#include "discovery/search_listener.h"
#include "firmware/firmware_match.h"
#include "pipeline/device_family.h"
#include "pipeline/return_watch.h"
#include "registry/address_entry.h"
#include "registry/address_scan.h"
#include "registry/camera_table.h"
#include "upgrade/upgrade_manager_link.h"
#include "web/address_entry_query.h"

// The hub between discovery and the pages: owns the search engine, stores every device
// it reports in the device table and tells the observer pages about it, dispatches the
// checked devices of an Upgrade command to the upgrade manager, and lets an upgrade
// that waits for a rebooting device find it again.
class CCameraControl final : public ISearchListener,
                             public IDeviceFinder,
                             public IDeviceLocator,
                             public IDispatchImages {
public:
    // `upgradeManager` and `store` may be null where no upgrade runs (the command-line
    // search); the table, the upgrade manager and the store must outlive this object.
    CCameraControl(CCameraTable& table, IUpgradeManager* upgradeManager,
                   const IFirmwareMatch* store = nullptr);
    // Waits for the dispatch threads (which may still hand jobs to the upgrade
    // manager), then stops the engine and waits for its receive thread.
    ~CCameraControl() override;
    CCameraControl(const CCameraControl&) = delete;
    CCameraControl& operator=(const CCameraControl&) = delete;

    // Registers a page for the notifications of IRegistryObserver. The page must outlive
    // this object: a search may report until the destructor has stopped it.
    void Attach(IRegistryObserver& observer);

    // Limits searches to the adapters with these interface names; empty: every adapter.
    void SetSearchInterfaces(const std::vector<std::string>& names);

    // Empties the device table, reports every device entered by hand to it again and
    // starts the search of every device family (the maker's multicast search and,
    // beside it, the WS-Discovery search for ONVIF devices).
    void StartSearch();

    // Asks the device at the address who it is and logs in to it, each family in turn
    // (the maker's devices, then an ONVIF device service at the port and at 80; blocking,
    // within the limits' budget, or until they say cancelled; call it off the GUI
    // thread). Added:
    // the device, keyed by its MAC address, is kept among the hand-entered devices and
    // reported like a found one, now and at every later search.
    AddressEntryResult AddDeviceByAddress(const std::string& scheme, const std::string& host,
                                          int port, const std::string& user,
                                          const std::string& password,
                                          const AddressQueryLimits& limits = {});

    // Starts asking every address of the request who is there (CAddressScan) and adds
    // the devices that answer as AddDeviceByAddress does; a device of a range that is
    // listed already (at the same address, or naming the same MAC) is not added twice.
    // The scan runs on threads this object owns and waits for when it goes; the handle
    // shows its progress and cancels it, and may be dropped at any time (the user's
    // Cancel need not wait for the requests under way).
    std::shared_ptr<CAddressScan> StartAddressScan(AddressScanRequest request);

    // True while a search still listens for replies.
    bool IsSearching() const;
    // The device table was full in this search: devices found were left out.
    bool ListFull() const { return listFullSaid_; }

    // Called by the engine on its receive thread for every device it accepts.
    void DeviceReported(const CIPCamInfo& record) override;

    // Stores the credentials and the selection the page holds for a device.
    void SetDeviceCredentials(const std::string& key, const std::string& user,
                              const std::string& password, int32_t checked);

    // For an upgrade waiting on a rebooted device: keeps a search running so the device
    // can report itself, and when it has (seen count above 0) passes its address to the
    // upgrade manager's DeviceSeenAgain and returns true.
    bool CheckDeviceReturned(const std::string& key) override;

    // Unlists the device in the table (its record stays) until it reports itself again.
    void ForgetDevice(const std::string& key) override;

    // IDeviceLocator: a listed device naming the MAC, as its system list named it to a
    // credential check or as its key (entry by address). Devices of unknown MAC are
    // asked for theirs, a few per call, each once per address.
    std::optional<DeviceSighting> Locate(const std::string& mac) override;

    // Stores the version the device named after its upgrade in its record.
    void FirmwareVersionRead(const std::string& key, const std::string& version) override;

    // Manual image mode: while a path is set, every dispatched device is given that one
    // image, whatever the firmware store holds.
    void SetManualImage(const std::string& path);
    void ClearManualImage();
    std::optional<std::string> ManualImage() const override;

    // The image for ONVIF cameras, which take their maker's images: while set, every
    // dispatched camera is given it instead of the manual image. A camera given neither
    // ends with -703 (it is never offered images of the firmware store).
    void SetCameraImage(const std::string& path);
    void ClearCameraImage();
    std::optional<std::string> CameraImage() const override;

    // The Upgrade command: observers get run begins and busy; then every listed device
    // whose Checked is not 0 is announced as dispatched and gets a dispatch thread,
    // which asks the device for its model, chooses its images and hands it to the
    // upgrade manager, or sends its final status: -301 when the model query was refused
    // for the credentials, else -503 (no newer image); -703 for an ONVIF camera without
    // an image. When the last dispatch of the
    // command has ended, observers get busy 0, and run ends as well if no device was
    // handed over (the upgrade manager ends the run otherwise). `policy` guards the run
    // (it goes to the upgrade manager before any device is handed over). With no device
    // checked, busy 0 and run ends follow at once.
    void StartUpgrade(uint8_t runFlag, const BatchPolicy& policy = {});

    // Dispatches of the last Upgrade command still under way.
    int PendingDispatches() const;

private:
    // The search of every family, created on first use; called under engineLock_.
    struct Engine {
        const IDeviceFamily* Family = nullptr;
        std::unique_ptr<CSearch> Search;
    };
    std::vector<Engine>& Engines();
    // Starts the engines unless they run, so that devices can report themselves; only the
    // one of the family of `protocol`, when it is known.
    void KeepSearching(std::optional<DeviceProtocol> protocol = std::nullopt);
    // AddDeviceByAddress; `skipListed`: a device listed already is not added again (a
    // range scan).
    AddressEntryResult AskAndKeep(const std::string& scheme, const std::string& host, int port,
                                  const std::string& user, const std::string& password,
                                  const AddressQueryLimits& limits, bool skipListed);
    // Adds the record of a device that answered by address.
    AddressEntryResult KeepAddressed(const CIPCamInfo& record, bool skipListed);
    // Tells the observers, once per search, that the table is full.
    void SayListFull();
    // A listed device other than `exceptKey` that names `mac`.
    std::optional<CIPCamInfo> ListedWithMac(const std::string& mac, const std::string& exceptKey);
    // Asks a few listed devices of unknown MAC for theirs.
    void LearnMacs();
    void ReapScans(bool all);
    void NotifyObservers(const std::function<void(IRegistryObserver&)>& notify);
    void ReportHandEntered(const CIPCamInfo& record);

    // The dispatch of one device, on its own thread (upgrade_dispatch.cpp).
    void RunDispatch(const std::string& key, uint8_t runFlag);
    void Dispatch(const std::string& key, const std::string& hardwareVersion,
                  const std::string& model, int queryResult, uint8_t runFlag);
    // The images for the device: the manual image, or the newer stored ones
    // (`fromStore` set).
    std::deque<std::string> ChooseImages(const CIPCamInfo& record,
                                         const std::string& hardwareVersion,
                                         const std::string& model, bool& fromStore);
    void HandOver(const CIPCamInfo& record, std::deque<std::string> images, bool fromStore,
                  uint8_t runFlag);
    // One dispatch has ended; the last of a command releases the pages.
    void DispatchEnded();

    CCameraTable& table_;
    IUpgradeManager* const upgradeManager_;
    const IFirmwareMatch* const store_;

    mutable std::mutex dispatchLock_;  // guards the members below up to engineLock_
    int pending_ = 0;                  // dispatches started and not yet ended
    int secondCounter_ = 0;            // devices handed to the upgrade manager in this run
    std::optional<std::string> manualImage_;
    std::optional<std::string> cameraImage_;

    mutable std::mutex engineLock_;  // guards engines_ and interfaces_
    std::vector<Engine> engines_;
    std::vector<std::string> interfaces_;
    // The dispatch threads, a few dozen at once (the rest wait their turn), joined once
    // ended (a page's thread never waits for a running one: they call observers).
    ThreadGroup dispatches_{32};

    mutable std::mutex manualLock_;  // guards manualDevices_
    std::vector<CIPCamInfo> manualDevices_;

    std::mutex scansLock_;                   // guards scans_ and macAsked_
    std::atomic<bool> listFullSaid_{false};  // DeviceListFull told in this search
    std::vector<std::shared_ptr<CAddressScan>> scans_;
    std::set<std::string> macAsked_;  // "key@host" of devices asked for their MAC

    std::mutex observerLock_;  // guards observers_
    std::vector<IRegistryObserver*> observers_;
};
