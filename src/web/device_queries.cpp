#include "web/device_queries.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "web/clfx_quor_client.h"
#include "web/curl_easy.h"
#include "web/http_base.h"
#include "web/web_client.h"

namespace {
constexpr int kModelQueryTimeoutMs = 1000;
constexpr int kLoginTimeoutMs = 2000;
// A device's system list is a few kilobytes.
constexpr size_t kModelAnswerBytes = 1024 * 1024;
constexpr const char* kModelMarker = "nvr.system.product.model=";
}  // namespace

std::string SystemListUrl(const std::string& scheme, const std::string& host, int port) {
    return StrFormat("%s://%s:%d/liveviewct?action=list&function=system", scheme.c_str(),
                     host.c_str(), port);
}

std::string FirmwareVersionIn(const std::string& systemList) {
    std::string version;
    ValueAfterMarker(systemList, ".system.product.firmware.version=", version);
    // A device that ends its lines with "\r\n" must not leave the "\r" in the version.
    return Trim(version);
}

std::string MacAddressIn(const std::string& systemList) {
    std::string mac;
    ValueAfterMarker(systemList, ".system.product.mac.address=", mac);
    // Some devices add more after a comma; the address is what comes before it.
    return Trim(mac.substr(0, mac.find(',')));
}

int QueryNvrModel(CIPCamInfo& cam, std::string& apiVersion, std::string& model) {
    const std::string url = SystemListUrl(cam.GetScheme(), cam.HostAddress, cam.GetPort());
    CHTTPBase sink(kModelAnswerBytes);
    std::string reply;
    int result = FetchText(sink, cam.UserName, cam.Password, url, kModelQueryTimeoutMs, reply);
    std::string value;
    if (result == rc::kOk && !ValueAfterMarker(reply, kModelMarker, value)) result = rc::kFailed;
    if (result == rc::kOk) {
        model = Trim(value);
        cam.ProductModel = model;
    }
    if (apiVersion.empty()) apiVersion = "V1";
    return result;
}

int CheckNvrLogin(CIPCamInfo& cam, const std::string& user, const std::string& password) {
    cam.LoginOk = 0;
    CLFX::CLFXQuorClient client;
    client.SetTimeout(kLoginTimeoutMs);
    client.SetTls(cam.GetScheme() == "https");
    client.Connect(cam.HostAddress, cam.GetPort());
    client.AddHeader("Connection: Keep-Alive");
    client.AddHeader("Content-Type: Application/x-www-form-urlencoded");
    const bool accepted = client.Login(user, password, true);
    client.Close();
    if (!accepted) return rc::kLoginRefused;
    cam.UserName = user;
    cam.Password = password;
    cam.LoginOk = 1;
    return rc::kOk;
}

std::string BuildLoginPageUrl(const CIPCamInfo& cam) {
    return BuildLoginPageUrl(cam.HostAddress,
                             std::to_string(cam.HttpsFlag == 1 ? cam.HttpsPort : cam.HttpPort),
                             cam.UserName, cam.Password, cam.HttpsFlag == 1);
}

std::string BuildLoginPageUrl(const std::string& host, const std::string& portText,
                              const std::string& user, const std::string& password, bool https) {
    // Escaped so that a password holding "&", "#" or a blank logs in as typed.
    const std::string page = StrFormat(
        "login.cgi/cgi_main.cgi?cgiName=login.cgi&page=%%2F%s&action=cms&userName=%s"
        "&userPasswd=%s&clientName=%s",
        "cfg_system_info.htm", PercentEncode(user).c_str(), PercentEncode(password).c_str(),
        "Strelvane");
    return StrFormat(https ? "https://%s:%s/%s" : "http://%s:%s/%s", host.c_str(), portText.c_str(),
                     page.c_str());
}
