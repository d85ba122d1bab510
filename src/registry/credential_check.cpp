#include "registry/credential_check.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "families/families.h"

namespace {

constexpr const char* kDefaultUser = "admin";
constexpr const char* kDefaultPassword = "vqmtz";

// What a check found out, from the checked copy into the stored record.
void TakeCheckResults(const CIPCamInfo& checked, CIPCamInfo& stored) {
    stored.UserName = checked.UserName;
    stored.Password = checked.Password;
    stored.LoginOk = checked.LoginOk;
    stored.FirmwareVersion = checked.FirmwareVersion;
    stored.MacAddress = checked.MacAddress;
    stored.NvrLoginPending = checked.NvrLoginPending;
    if (FactsOf(checked.Protocol).LoginIdentifies && checked.LoginOk == 1) {
        stored.VendorName = checked.VendorName;
        stored.ModelName = checked.ModelName;
        stored.ProductModel = checked.ProductModel;
        stored.SerialNumber = checked.SerialNumber;
        stored.HostAddress = checked.HostAddress;
        stored.HttpsFlag = checked.HttpsFlag;
        stored.HttpPort = checked.HttpPort;
        stored.HttpsPort = checked.HttpsPort;
        stored.ServiceAddresses = checked.ServiceAddresses;
    }
}

}  // namespace

void ApplyDefaultCredentials(CIPCamInfo& record) {
    if (record.UserName.empty()) record.UserName = kDefaultUser;
    if (record.Password.empty()) record.Password = kDefaultPassword;
}

CheckOutcome CheckCredentials(CIPCamInfo& record) {
    ApplyDefaultCredentials(record);
    return FamilyFor(record.Protocol).CheckLogin(record);
}

CCredentialChecks::CCredentialChecks(CCameraTable& table, ICredentialCheckObserver& observer)
    : table_(table),
      observer_(observer),
      launcher_([this](std::stop_token stop) { Launch(stop); }) {}

CCredentialChecks::~CCredentialChecks() { WaitAll(); }

bool CCredentialChecks::Start(const std::string& key) {
    std::lock_guard lock(lock_);
    const std::optional<CIPCamInfo> record = table_.Find(key);
    if (!record) return false;
    // A check that has stored its results (CheckDone 1) is only telling of them: whoever
    // hears of it may check the device again at once (a password typed meanwhile).
    if (record->CheckDone == 0 && active_.count(key) > 0) return false;
    if (!table_.Modify(key, [](CIPCamInfo& r) { r.CheckDone = 0; })) return false;
    active_.insert(key);
    queued_.push_back(key);
    changed_.notify_all();
    return true;
}

void CCredentialChecks::WaitAll() {
    {
        std::unique_lock lock(lock_);
        changed_.wait(lock, [this] { return active_.empty(); });
    }
    // Every check has ended; their threads are returning.
    checks_.JoinAll();
}

void CCredentialChecks::Run(const std::string& key) {
    if (std::optional<CIPCamInfo> record = table_.Find(key)) {
        const CheckOutcome outcome = CheckCredentials(*record);
        table_.Modify(key, [&](CIPCamInfo& r) {
            TakeCheckResults(*record, r);
            r.LoginRefused =
                outcome == CheckOutcome::Failed || outcome == CheckOutcome::NvrLoginFailed ? 1 : 0;
            r.CheckDone = 1;
        });
        observer_.CredentialCheckEnded(key, outcome);
    }
    std::lock_guard lock(lock_);
    active_.erase(active_.find(key));
    ++ended_;
    changed_.notify_all();
}

void CCredentialChecks::Launch(std::stop_token stop) {
    std::unique_lock lock(lock_);
    while (changed_.wait(lock, stop, [this] { return !queued_.empty() || ended_ > 0; })) {
        std::deque<std::string> keys;
        keys.swap(queued_);
        ended_ = 0;
        lock.unlock();
        checks_.Reap();
        for (std::string& key : keys) {
            // Without a thread the device is not asked: its check ends as one that
            // reached nobody, so that nothing waits for it.
            if (!checks_.Start([this, key](std::stop_token) { Run(key); })) {
                table_.Modify(key, [](CIPCamInfo& r) { r.CheckDone = 1; });
                observer_.CredentialCheckEnded(key, CheckOutcome::Unreachable);
                std::lock_guard ended(lock_);
                active_.erase(active_.find(key));
                changed_.notify_all();
            }
        }
        lock.lock();
    }
}
