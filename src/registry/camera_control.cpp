#include "registry/camera_control.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "web/address_entry_query.h"

CCameraControl::CCameraControl(CCameraTable& table, IUpgradeManager* upgradeManager,
                               const IFirmwareMatch* store)
    : table_(table), upgradeManager_(upgradeManager), store_(store) {}

CCameraControl::~CCameraControl() {
    ReapDispatchThreads(true);
    std::unique_ptr<CBCMulticastSearch> engine;
    std::unique_ptr<CWsDiscoverySearch> onvif;
    {
        std::lock_guard lock(engineLock_);
        engine = std::move(multicast_);
        onvif = std::move(onvif_);
    }
    if (engine) engine->Stop();
    if (onvif) onvif->Stop();
    // An engine's destructor waits for its receive thread, which may be inside
    // DeviceReported; this object's members must outlive it.
    engine.reset();
    onvif.reset();
}

void CCameraControl::Attach(IRegistryObserver& observer) {
    std::lock_guard lock(observerLock_);
    observers_.push_back(&observer);
}

void CCameraControl::SetSearchInterfaces(const std::vector<std::string>& names) {
    std::lock_guard lock(engineLock_);
    interfaces_ = names;
    if (multicast_) multicast_->SetInterfaceNames(names);
    if (onvif_) onvif_->SetInterfaceNames(names);
}

CBCMulticastSearch& CCameraControl::Engine() {
    if (!multicast_) {
        multicast_ = std::make_unique<CBCMulticastSearch>();
        multicast_->AddListener(*this);
        multicast_->SetVendorList({kAcceptedVendor});
        multicast_->SetInterfaceNames(interfaces_);
    }
    return *multicast_;
}

CWsDiscoverySearch& CCameraControl::OnvifEngine() {
    if (!onvif_) {
        onvif_ = std::make_unique<CWsDiscoverySearch>();
        onvif_->AddListener(*this);
        onvif_->SetInterfaceNames(interfaces_);
    }
    return *onvif_;
}

void CCameraControl::StartSearch() {
    table_.Clear();
    std::vector<CIPCamInfo> manual;
    {
        std::lock_guard lock(manualLock_);
        manual = manualDevices_;
    }
    // Multicast does not reach them (another subnet), so they would be lost otherwise.
    for (const CIPCamInfo& record : manual) ReportHandEntered(record);
    std::lock_guard lock(engineLock_);
    CBCMulticastSearch& engine = Engine();
    engine.ClearResultSet();
    engine.Start();
    OnvifEngine().ClearResultSet();
    OnvifEngine().Start();
}

AddressEntryResult CCameraControl::AddDeviceByAddress(const std::string& scheme,
                                                      const std::string& host, int port,
                                                      const std::string& user,
                                                      const std::string& password) {
    AddressedDevice device;
    const int result = QueryDeviceByAddress(scheme, host, port, user, password, device);
    // A system list refused for the credentials (401) is a wrong password too, not a
    // network fault.
    if (result == rc::kLoginRefused || result == rc::kHttpUnauthorized) {
        return AddressEntryResult::LoginRefused;
    }
    if (result != rc::kOk) return AddressEntryResult::Unreachable;
    CIPCamInfo record;
    record.DeviceId = device.Mac;
    record.MacAddress = device.Mac;
    record.DeviceName = device.HostName;
    record.ModelName = device.Model;
    record.FirmwareVersion = device.FirmwareVersion;
    record.HostAddress = device.Host;
    record.HttpFlag = 0;
    record.HttpPort = port;
    record.UserName = user;
    record.Password = password;
    record.LoginOk = 1;
    {
        std::lock_guard lock(manualLock_);
        for (const CIPCamInfo& known : manualDevices_) {
            if (EqualsNoCase(known.DeviceId, record.DeviceId)) return AddressEntryResult::MacUsed;
        }
        manualDevices_.push_back(record);
    }
    ReportHandEntered(record);
    return AddressEntryResult::Added;
}

void CCameraControl::ReportHandEntered(const CIPCamInfo& record) {
    table_.AddOrUpdate(record.DeviceId, record);
    // Its log-in was checked when it was entered: no check is pending.
    table_.Modify(record.DeviceId, [](CIPCamInfo& r) { r.CheckDone = 1; });
    if (std::optional<CIPCamInfo> stored = table_.Find(record.DeviceId)) {
        NotifyObservers([&](IRegistryObserver& o) { o.DeviceFound(*stored); });
    }
}

bool CCameraControl::IsSearching() const {
    std::lock_guard lock(engineLock_);
    return (multicast_ && multicast_->GetRunningCount() > 0) ||
           (onvif_ && onvif_->GetRunningCount() > 0);
}

void CCameraControl::DeviceReported(const CIPCamInfo& record) {
    const std::string key = record.DeviceId;
    // The table keys every device by its identifier; a reply without one cannot be kept.
    if (key.empty()) {
        Trace("device at %s reported no identifier; ignored", record.HostAddress.c_str());
        return;
    }
    table_.AddOrUpdate(key, record);
    if (std::optional<CIPCamInfo> stored = table_.Find(key)) {
        NotifyObservers([&](IRegistryObserver& o) { o.DeviceFound(*stored); });
    }
}

void CCameraControl::SetDeviceCredentials(const std::string& key, const std::string& user,
                                          const std::string& password, int32_t checked) {
    table_.SetCredentials(key, user, password, checked);
}

bool CCameraControl::CheckDeviceReturned(const std::string& key) {
    {
        // The search the device answers; one the table has never held is looked for by both.
        const std::optional<DeviceProtocol> protocol = table_.StoredProtocol(key);
        std::lock_guard lock(engineLock_);
        if (protocol != DeviceProtocol::Onvif && Engine().GetRunningCount() == 0) Engine().Start();
        if (protocol != DeviceProtocol::Maker && OnvifEngine().GetRunningCount() == 0) {
            OnvifEngine().Start();
        }
    }
    std::optional<CIPCamInfo> device = table_.Find(key);
    if (!device || device->SeenCount <= 0) return false;
    if (upgradeManager_) {
        upgradeManager_->DeviceSeenAgain(key, device->GetScheme(), device->HostAddress,
                                         device->GetPort());
    }
    return true;
}

void CCameraControl::ForgetDevice(const std::string& key) { table_.Remove(key); }

void CCameraControl::FirmwareVersionRead(const std::string& key, const std::string& version) {
    table_.SetFirmwareVersion(key, version);
}

void CCameraControl::NotifyObservers(const std::function<void(IRegistryObserver&)>& notify) {
    std::vector<IRegistryObserver*> observers;
    {
        std::lock_guard lock(observerLock_);
        observers = observers_;
    }
    // No lock held: a page may hold a dispatch thread until its own thread has seen the
    // notification, and its own thread may meanwhile call StartUpgrade, which notifies.
    for (IRegistryObserver* observer : observers) notify(*observer);
}
