#include "registry/camera_control.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "families/families.h"
#include "registry/credential_check.h"
#include "web/address_entry_query.h"
#include "web/device_queries.h"
#include "web/web_client.h"

namespace {

// Devices of unknown MAC asked for theirs per look for a device elsewhere, and how long
// each may take: a look comes once a second while an upgrade waits.
constexpr int kMacAsksPerLook = 2;
constexpr int kMacAskTimeoutMs = 500;

}  // namespace

CCameraControl::CCameraControl(CCameraTable& table, IUpgradeManager* upgradeManager,
                               const IFirmwareMatch* store)
    : table_(table), upgradeManager_(upgradeManager), store_(store) {
    table_.SetMergeListener([this](const std::string& gone, const std::string& kept) {
        if (std::optional<CIPCamInfo> stored = table_.Find(kept)) {
            NotifyObservers([&](IRegistryObserver& o) { o.DeviceMerged(gone, *stored); });
        }
    });
}

CCameraControl::~CCameraControl() {
    table_.SetMergeListener({});
    // Scans add devices through this object: they go first.
    ReapScans(true);
    dispatches_.JoinAll();
    std::vector<Engine> engines;
    {
        std::lock_guard lock(engineLock_);
        engines.swap(engines_);
    }
    for (Engine& engine : engines) engine.Search->Stop();
    // An engine's destructor waits for its receive thread, which may be inside
    // DeviceReported; this object's members must outlive it.
    engines.clear();
}

void CCameraControl::Attach(IRegistryObserver& observer) {
    std::lock_guard lock(observerLock_);
    observers_.push_back(&observer);
}

void CCameraControl::SetSearchInterfaces(const std::vector<std::string>& names) {
    std::lock_guard lock(engineLock_);
    interfaces_ = names;
    for (Engine& engine : engines_) engine.Search->SetInterfaceNames(names);
}

std::vector<CCameraControl::Engine>& CCameraControl::Engines() {
    if (engines_.empty()) {
        for (const IDeviceFamily* family : Families()) {
            Engine engine{family, family->MakeSearch()};
            engine.Search->AddListener(*this);
            engine.Search->SetInterfaceNames(interfaces_);
            engines_.push_back(std::move(engine));
        }
    }
    return engines_;
}

void CCameraControl::StartSearch() {
    table_.Clear();
    listFullSaid_ = false;
    std::vector<CIPCamInfo> manual;
    {
        std::lock_guard lock(manualLock_);
        manual = manualDevices_;
    }
    // Multicast does not reach them (another subnet), so they would be lost otherwise.
    for (const CIPCamInfo& record : manual) ReportHandEntered(record);
    std::lock_guard lock(engineLock_);
    for (Engine& engine : Engines()) {
        engine.Search->ClearResultSet();
        engine.Search->Start();
    }
}

AddressEntryResult CCameraControl::AddDeviceByAddress(const std::string& scheme,
                                                      const std::string& host, int port,
                                                      const std::string& user,
                                                      const std::string& password,
                                                      const AddressQueryLimits& limits) {
    return AskAndKeep(scheme, host, port, user, password, limits, false);
}

AddressEntryResult CCameraControl::AskAndKeep(const std::string& scheme, const std::string& host,
                                              int port, const std::string& user,
                                              const std::string& password,
                                              const AddressQueryLimits& limits, bool skipListed) {
    AddressAsk ask{scheme,
                   BracketedHost(host),
                   port,
                   user,
                   password,
                   limits.ConnectTimeoutMs,
                   std::chrono::steady_clock::now() + limits.Budget,
                   limits.Cancelled};
    // Each family in turn asks with its own requests, within one budget: the maker's
    // devices first, then cameras of other makers (their device service), which a
    // routed subnet keeps out of reach of every search.
    bool refused = false;
    for (const IDeviceFamily* family : Families()) {
        CIPCamInfo record;
        const int result = family->AskAtAddress(ask, record);
        if (result == rc::kOk) return KeepAddressed(record, skipListed);
        if (result == rc::kCancelled) return AddressEntryResult::Cancelled;
        refused = refused || result == rc::kLoginRefused;
        ask.PortSilent = ask.PortSilent || result == rc::kCannotConnect;
    }
    return refused ? AddressEntryResult::LoginRefused : AddressEntryResult::Unreachable;
}

std::shared_ptr<CAddressScan> CCameraControl::StartAddressScan(AddressScanRequest request) {
    ReapScans(false);
    const std::string user = request.User;
    const std::string password = request.Password;
    auto ask = [this, user, password](const std::string& host, int port, bool inRange,
                                      const AddressQueryLimits& limits) {
        // Found by a search, or by an earlier scan: no need to ask it.
        if (inRange && table_.FindListedIf([&](const CIPCamInfo& r) {
                return r.HostAddress == host && r.GetPort() == port;
            })) {
            return AddressEntryResult::AlreadyListed;
        }
        return AskAndKeep("http", host, port, user, password, limits, inRange);
    };
    auto scan = std::make_shared<CAddressScan>(std::move(request), ask);
    {
        std::lock_guard lock(scansLock_);
        scans_.push_back(scan);
    }
    scan->Start();
    return scan;
}

void CCameraControl::ReapScans(bool all) {
    std::vector<std::shared_ptr<CAddressScan>> ending;
    {
        std::lock_guard lock(scansLock_);
        auto done = [all](const std::shared_ptr<CAddressScan>& scan) {
            return all || scan->Now().Finished;
        };
        for (auto& scan : scans_) {
            if (done(scan)) ending.push_back(scan);
        }
        std::erase_if(scans_, done);
    }
    for (auto& scan : ending) {
        scan->Cancel();
        scan->Wait();
    }
}

AddressEntryResult CCameraControl::KeepAddressed(const CIPCamInfo& record, bool skipListed) {
    if (skipListed && ListedWithMac(record.MacAddress, std::string())) {
        return AddressEntryResult::AlreadyListed;
    }
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
    const std::string key = table_.AddOrUpdate(record.DeviceId, record);
    if (key.empty()) return SayListFull();
    // Its log-in was checked when it was entered: no check is pending. A device listed
    // already (found by a search) keeps its own check.
    if (key == record.DeviceId) table_.Modify(key, [](CIPCamInfo& r) { r.CheckDone = 1; });
    if (std::optional<CIPCamInfo> stored = table_.Find(key)) {
        NotifyObservers([&](IRegistryObserver& o) { o.DeviceFound(*stored); });
    }
}

bool CCameraControl::IsSearching() const {
    std::lock_guard lock(engineLock_);
    return std::any_of(engines_.begin(), engines_.end(),
                       [](const Engine& engine) { return engine.Search->GetRunningCount() > 0; });
}

void CCameraControl::DeviceReported(const CIPCamInfo& record) {
    const std::string key = record.DeviceId;
    // The table keys every device by its identifier; a reply without one cannot be kept.
    if (key.empty()) {
        Trace("device at %s reported no identifier; ignored", record.HostAddress.c_str());
        return;
    }
    if (table_.AddOrUpdate(key, record).empty()) return SayListFull();
    if (std::optional<CIPCamInfo> stored = table_.Find(key)) {
        NotifyObservers([&](IRegistryObserver& o) { o.DeviceFound(*stored); });
    }
}

void CCameraControl::SayListFull() {
    if (listFullSaid_.exchange(true)) return;
    Trace("the device list is full (%zu devices); further devices found are not listed",
          CCameraTable::kMaxDevices);
    NotifyObservers([](IRegistryObserver& o) { o.DeviceListFull(); });
}

void CCameraControl::SetDeviceCredentials(const std::string& key, const std::string& user,
                                          const std::string& password, int32_t checked) {
    table_.SetCredentials(key, user, password, checked);
}

void CCameraControl::KeepSearching(std::optional<DeviceProtocol> protocol) {
    std::lock_guard lock(engineLock_);
    for (Engine& engine : Engines()) {
        if (protocol && !engine.Family->Takes(*protocol)) continue;
        if (engine.Search->GetRunningCount() == 0) engine.Search->Start();
    }
}

bool CCameraControl::CheckDeviceReturned(const std::string& key) {
    // The search the device answers; one the table has never held is looked for by both.
    const std::optional<CIPCamInfo> stored = table_.FindStored(key);
    KeepSearching(stored ? std::optional(stored->Protocol) : std::nullopt);
    std::optional<CIPCamInfo> device = table_.Find(key);
    if (!device || device->SeenCount <= 0) {
        // Back under another key at another address (a device entered by address that a
        // search now reaches, or one a search found keyed otherwise): the same MAC.
        const std::string mac = stored ? RecordMac(*stored) : std::string();
        if (mac.empty()) return false;
        device = ListedWithMac(mac, key);
        if (!device) {
            LearnMacs();
            device = ListedWithMac(mac, key);
        }
        if (!device) return false;
        // Listed again under its own key at the new address, as if it had reported
        // itself there: the page, the history and later looks find it there.
        CIPCamInfo moved = *stored;
        moved.HostAddress = device->HostAddress;
        moved.HttpPort = device->HttpPort;
        moved.HttpsPort = device->HttpsPort;
        table_.AddOrUpdate(key, moved);
        // One device, one row: the other key now names this record, when log-ins named
        // the MAC on both sides (a search's identifier is anyone's claim).
        if (!LoggedInMac(*stored).empty() && LoggedInMac(*stored) == LoggedInMac(*device)) {
            table_.Merge(key, device->DeviceId);
        }
        device = moved;
    }
    if (upgradeManager_) {
        upgradeManager_->DeviceSeenAgain(key, device->GetScheme(), device->HostAddress,
                                         device->GetPort());
    }
    return true;
}

std::optional<DeviceSighting> CCameraControl::Locate(const std::string& mac) {
    KeepSearching();
    std::optional<CIPCamInfo> device = ListedWithMac(mac, std::string());
    if (!device) {
        LearnMacs();
        device = ListedWithMac(mac, std::string());
    }
    if (!device) return std::nullopt;
    return DeviceSighting{device->HostAddress, device->GetPort()};
}

std::optional<CIPCamInfo> CCameraControl::ListedWithMac(const std::string& mac,
                                                        const std::string& exceptKey) {
    const std::string wanted = MacKey(mac);
    if (wanted.empty()) return std::nullopt;
    std::vector<CIPCamInfo> naming;
    table_.FindListedIf([&](const CIPCamInfo& r) {
        if (r.DeviceId != exceptKey && r.SeenCount > 0 && RecordMac(r) == wanted) {
            naming.push_back(r);
        }
        return false;
    });
    // Two devices naming one MAC: a cloned or mistyped one, which proves nothing.
    if (naming.size() != 1) return std::nullopt;
    return naming.front();
}

void CCameraControl::LearnMacs() {
    std::vector<CIPCamInfo> unknown;
    {
        std::lock_guard lock(scansLock_);
        while (unknown.size() < kMacAsksPerLook) {
            std::optional<CIPCamInfo> next = table_.FindListedIf([&](const CIPCamInfo& r) {
                return RecordMac(r).empty() &&
                       macAsked_.count(r.DeviceId + "@" + r.HostAddress) == 0;
            });
            if (!next) break;
            macAsked_.insert(next->DeviceId + "@" + next->HostAddress);
            unknown.push_back(std::move(*next));
        }
    }
    for (CIPCamInfo& r : unknown) {
        ApplyDefaultCredentials(r);
        std::string answer;
        if (HttpGetText(r.UserName, r.Password,
                        SystemListUrl(r.GetScheme(), r.HostAddress, r.GetPort()), kMacAskTimeoutMs,
                        answer) != rc::kOk) {
            continue;
        }
        const std::string mac = MacAddressIn(answer);
        if (!mac.empty()) {
            table_.Modify(r.DeviceId, [&](CIPCamInfo& stored) { stored.MacAddress = mac; });
        }
    }
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
