#include "web/address_entry_query.h"

#include "base/result_codes.h"
#include "base/text.h"
#include "web/curl_easy.h"

namespace {

constexpr int kTimeoutMs = 2000;
constexpr const char* kUserAgent = "Strelvane";
constexpr const char* kSystemListPath = "/cgi-bin/remotect?action=list&function=system";
constexpr const char* kLoginPath = "/login.cgi/cgi_main.cgi?";
constexpr const char* kNetworkPath = "/cgi-bin/cgi_main.cgi?cgiName=get_info_nvr.cgi&group=Network";

struct Answer {
    CURLcode Code = CURLE_OK;
    bool Stalled = false;
    long Status = 0;
    std::string Body;
    std::string Location;
};

size_t OnBody(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// One request on the kept handle, so that every step reuses the connection.
Answer Exchange(CURL* h, const std::string& url, const std::string& user,
                const std::string& password, const std::string* form) {
    ApplyCommonOptions(h, kTimeoutMs, false);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    ApplyCredentials(h, user, password);
    CurlHeaderList list;
    AppendHeader(list, "Expect:");
    AppendHeader(list, "Connection: Keep-Alive");
    AppendHeader(list, "Accept: text/html, application/xhtml+xml, */*");
    if (form) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form->size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, form->c_str());
        AppendHeader(list, "Content-Type: Application/x-www-form-urlencoded");
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
    Answer answer;
    StallWatch watch(kTimeoutMs);
    AnswerHeaders headers(watch);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer.Body);
    headers.Attach(h);
    watch.Attach(h);
    answer.Code = curl_easy_perform(h);
    answer.Stalled = watch.Stalled();
    ForgetTransferLocals(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.Status);
    answer.Location = headers.Value("Location");
    // A body is text up to its first zero byte.
    answer.Body.resize(answer.Body.find('\0') == std::string::npos ? answer.Body.size()
                                                                   : answer.Body.find('\0'));
    return answer;
}

int ResultOf(const Answer& answer) {
    if (answer.Code != CURLE_OK) return ResultFromCurl(answer.Code, answer.Stalled, true);
    if (answer.Status == 200 || answer.Status == 302) return rc::kOk;
    return ResultFromStatus(answer.Status);
}

// The text after `marker` up to the line end, without a carriage return.
std::string LineValue(const std::string& text, const char* marker) {
    std::string value;
    ValueAfterMarker(text, marker, value);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
}

}  // namespace

std::string BracketedHost(const std::string& host) {
    if (host.find(':') == std::string::npos || host.front() == '[') return host;
    return "[" + host + "]";
}

int QueryDeviceByAddress(const std::string& scheme, const std::string& host, int port,
                         const std::string& user, const std::string& password,
                         AddressedDevice& out) {
    CurlEasy handle = NewCurlEasy();
    if (!handle || host.empty()) return rc::kFailed;
    const std::string bracketed = BracketedHost(host);
    const std::string base = scheme + "://" + bracketed + ":" + std::to_string(port);

    const Answer list = Exchange(handle.get(), base + kSystemListPath, user, password, nullptr);
    if (const int result = ResultOf(list); result != rc::kOk) return result;
    AddressedDevice device;
    device.Host = bracketed;
    device.Model = LineValue(list.Body, ".system.product.model=");
    device.FirmwareVersion = LineValue(list.Body, ".system.product.firmware.version=");

    const std::string form =
        StrFormat("cgiName=login.cgi&userName=%s&userPasswd=%s&clientName=Strelvane",
                  PercentEncode(user).c_str(), PercentEncode(password).c_str());
    const Answer login = Exchange(handle.get(), base + kLoginPath, user, password, &form);
    // Only the start page as the landing means the device took the credentials.
    const std::string& landing = login.Status == 302 ? login.Location : login.Body;
    if (ResultOf(login) != rc::kOk || !ContainsNoCase(landing, "index.htm")) {
        return rc::kLoginRefused;
    }

    const Answer network = Exchange(handle.get(), base + kNetworkPath, user, password, nullptr);
    if (const int result = ResultOf(network); result != rc::kOk) return result;
    device.HostName = LineValue(network.Body, "Host Name=");
    const std::string macLine = LineValue(network.Body, "Mac Address=");
    device.Mac = Trim(macLine.substr(0, macLine.find(',')));
    // The MAC address becomes the device's key; a device without one cannot be listed.
    if (device.Mac.empty()) return rc::kFailed;
    out = std::move(device);
    return rc::kOk;
}
