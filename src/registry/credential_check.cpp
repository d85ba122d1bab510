#include "registry/credential_check.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "base/result_codes.h"
#include "base/text.h"
#include "families/maker/job_exchanges.h"
#include "web/device_queries.h"
#include "web/onvif_identification.h"
#include "web/web_client.h"

namespace {

constexpr const char* kDefaultUser = "admin";
constexpr const char* kDefaultPassword = "vqmtz";
constexpr int kListTimeoutMs = 2000;

// An ONVIF device is identified through its device service; the answer says at once
// whether the credentials hold.
CheckOutcome CheckOnvifCredentials(CIPCamInfo& record) {
    // A password typed into the row that is refused shows as such, as for the NVRs.
    const bool typed = record.NvrLoginPending == 1;
    record.NvrLoginPending = 0;
    OnvifIdentity identity;
    const int result = IdentifyOnvifDevice(record.ServiceAddresses, record.UserName,
                                           record.Password, kListTimeoutMs, identity);
    record.LoginOk = result == rc::kOk ? 1 : 0;
    if (result == rc::kOk) {
        ApplyOnvifIdentity(identity, record);
        return CheckOutcome::Passed;
    }
    if (result != rc::kLoginRefused) return CheckOutcome::Unreachable;
    return typed ? CheckOutcome::NvrLoginFailed : CheckOutcome::Failed;
}

// What a check found out, from the checked copy into the stored record.
void TakeCheckResults(const CIPCamInfo& checked, CIPCamInfo& stored) {
    stored.UserName = checked.UserName;
    stored.Password = checked.Password;
    stored.LoginOk = checked.LoginOk;
    stored.FirmwareVersion = checked.FirmwareVersion;
    stored.MacAddress = checked.MacAddress;
    stored.NvrLoginPending = checked.NvrLoginPending;
    if (checked.Protocol == DeviceProtocol::Onvif && checked.LoginOk == 1) {
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
    if (record.Protocol == DeviceProtocol::Onvif) return CheckOnvifCredentials(record);
    const std::string user = record.UserName;
    const std::string password = record.Password;
    CheckNvrLogin(record, user, password);

    std::string answer;
    const std::string host = record.HostAddress;
    int listed = HttpGetText(user, password, SystemListUrl("http", host, record.GetPort()),
                             kListTimeoutMs, answer);
    if (listed != rc::kOk) {
        const int secure = HttpGetText(
            user, password, SystemListUrl("https", host, record.GetPort()), kListTimeoutMs, answer);
        if (secure == rc::kOk || secure == rc::kHttpUnauthorized) listed = secure;
    }
    // A device that refused the credentials has answered: it is reachable, and the
    // log-in results below say why the check failed.
    if (listed != rc::kOk && listed != rc::kHttpUnauthorized) return CheckOutcome::Unreachable;
    if (listed == rc::kOk) {
        record.FirmwareVersion = FirmwareVersionIn(answer);
        // A list without the line leaves what an earlier answer named.
        if (std::string mac = MacAddressIn(answer); !mac.empty()) record.MacAddress = mac;
    }

    if (record.NvrLoginPending == 1) {
        record.NvrLoginPending = 0;
        return VerifyNvrLogin(record.GetScheme(), record.HostAddress, record.GetPort(), user,
                              password) == rc::kOk
                   ? CheckOutcome::Passed
                   : CheckOutcome::NvrLoginFailed;
    }
    return record.LoginOk == 1 ? CheckOutcome::Passed : CheckOutcome::Failed;
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
    CheckList done;
    {
        std::unique_lock lock(lock_);
        changed_.wait(lock, [this] { return active_.empty(); });
        done = TakeEnded(true);
    }
    // Each jthread joins as it goes; every one has ended its check.
}

void CCredentialChecks::Run(Check& check) {
    if (std::optional<CIPCamInfo> record = table_.Find(check.Key)) {
        const CheckOutcome outcome = CheckCredentials(*record);
        table_.Modify(check.Key, [&](CIPCamInfo& r) {
            TakeCheckResults(*record, r);
            r.CheckDone = 1;
        });
        observer_.CredentialCheckEnded(check.Key, outcome);
    }
    std::lock_guard lock(lock_);
    check.Ended = true;
    active_.erase(active_.find(check.Key));
    ++ended_;
    changed_.notify_all();
}

CCredentialChecks::CheckList CCredentialChecks::TakeEnded(bool all) {
    CheckList done;
    for (auto it = checks_.begin(); it != checks_.end();) {
        auto next = std::next(it);
        if (all || (*it)->Ended) done.splice(done.end(), checks_, it);
        it = next;
    }
    ended_ = 0;
    return done;
}

void CCredentialChecks::Launch(std::stop_token stop) {
    std::unique_lock lock(lock_);
    while (changed_.wait(lock, stop, [this] { return !queued_.empty() || ended_ > 0; })) {
        std::deque<std::string> keys;
        keys.swap(queued_);
        CheckList done = TakeEnded(false);
        lock.unlock();
        done.clear();  // joins threads that have ended their checks
        CheckList started;
        for (std::string& key : keys) {
            auto check = std::make_unique<Check>();
            check->Key = std::move(key);
            Check* running = check.get();
            started.push_back(std::move(check));
            // The check may end before it is listed; it marks itself under the lock.
            running->Thread = std::jthread([this, running] { Run(*running); });
        }
        lock.lock();
        checks_.splice(checks_.end(), started);
    }
}
