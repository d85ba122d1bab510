#include "families/maker/maker_login.h"

#include "base/result_codes.h"
#include "base/trace.h"
#include "device/mac_key.h"
#include "families/maker/job_exchanges.h"
#include "web/device_queries.h"
#include "web/web_client.h"

namespace {

constexpr int kListTimeoutMs = 2000;

}  // namespace

CheckOutcome CheckMakerLogin(CIPCamInfo& record) {
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

std::string MakerVersionNamed(const std::string& scheme, const std::string& host, int port,
                              const std::string& user, const std::string& password,
                              const std::string& mac, int timeoutMs) {
    std::string answer;
    if (HttpGetText(user, password, SystemListUrl(scheme, host, port), timeoutMs, answer) !=
        rc::kOk) {
        return {};
    }
    if (!SameMac(MacAddressIn(answer), mac)) {
        Trace("the device at %s does not name MAC %s", host.c_str(), mac.c_str());
        return {};
    }
    return FirmwareVersionIn(answer);
}
