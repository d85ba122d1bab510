#include "upgrade/credential_check.h"

#include <algorithm>
#include <vector>

#include "base/result_codes.h"
#include "base/text.h"
#include "upgrade/job_exchanges.h"
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

CheckOutcome CheckCredentials(CIPCamInfo& record) {
    if (record.UserName.empty()) record.UserName = kDefaultUser;
    if (record.Password.empty()) record.Password = kDefaultPassword;
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
    : table_(table), observer_(observer) {}

CCredentialChecks::~CCredentialChecks() { WaitAll(); }

bool CCredentialChecks::Start(const std::string& key) {
    Reap(false);
    std::lock_guard lock(lock_);
    if (std::any_of(checks_.begin(), checks_.end(),
                    [&](const auto& c) { return c->Key == key && !c->Ended; })) {
        return false;
    }
    if (!table_.Modify(key, [](CIPCamInfo& r) { r.CheckDone = 0; })) return false;
    auto check = std::make_unique<Check>();
    check->Key = key;
    Check* started = check.get();
    checks_.push_back(std::move(check));
    started->Thread = std::jthread([this, started] { Run(*started); });
    return true;
}

void CCredentialChecks::WaitAll() { Reap(true); }

void CCredentialChecks::Run(Check& check) {
    if (std::optional<CIPCamInfo> record = table_.Find(check.Key)) {
        const CheckOutcome outcome = CheckCredentials(*record);
        table_.Modify(check.Key, [&](CIPCamInfo& r) {
            TakeCheckResults(*record, r);
            r.CheckDone = 1;
        });
        observer_.CredentialCheckEnded(check.Key, outcome);
    }
    check.Ended = true;
}

void CCredentialChecks::Reap(bool all) {
    // A check's observer may start the next check while WaitAll is joining its thread.
    std::unique_lock join(joinLock_, std::defer_lock);
    if (all) {
        join.lock();
    } else if (!join.try_lock()) {
        return;
    }
    std::vector<std::unique_ptr<Check>> done;
    {
        std::lock_guard lock(lock_);
        for (auto it = checks_.begin(); it != checks_.end();) {
            if (all || (*it)->Ended) {
                done.push_back(std::move(*it));
                it = checks_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Each jthread joins as it goes; the checks' own time-outs bound the wait.
    done.clear();
}
