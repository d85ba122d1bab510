#include "web/address_entry_query.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"
#include "web/bounded_transfer.h"
#include "web/curl_easy.h"

namespace {

constexpr int kTimeoutMs = AddressQueryLimits::kTimeoutMs;
constexpr const char* kUserAgent = "Strelvane";
constexpr const char* kSystemListPath = "/cgi-bin/remotect?action=list&function=system";
constexpr const char* kLoginPath = "/login.cgi/cgi_main.cgi?";
constexpr const char* kNetworkPath = "/cgi-bin/cgi_main.cgi?cgiName=get_info_nvr.cgi&group=Network";

struct Answer {
    CURLcode Code = CURLE_OK;
    bool Stalled = false;
    bool Cut = false;  // the body reached its cap; the rest was not read
    long Status = 0;
    std::string Body;
    std::string Location;
};

// Keeps the first kMaxAnswerBytes of the body and then ends the transfer: a device
// that streams without end must not fill the memory.
size_t OnBody(char* data, size_t size, size_t count, void* out) {
    auto* answer = static_cast<Answer*>(out);
    const size_t room = AddressQueryLimits::kMaxAnswerBytes - answer->Body.size();
    answer->Body.append(data, std::min(room, size * count));
    if (size * count < room) return size * count;
    answer->Cut = true;
    return 0;
}

// One request on the kept connection of `exchange`.
Answer Exchange(BoundedExchange& exchange, int connectTimeoutMs, const std::string& url,
                const std::string& user, const std::string& password, const std::string* form) {
    CURL* h = exchange.Handle();
    ApplyCommonOptions(h, connectTimeoutMs, false);
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
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    headers.Attach(h);
    watch.Attach(h);
    answer.Code = exchange.Perform();
    // The cap is the intended end of the answer, not a failure.
    if (answer.Cut && answer.Code == CURLE_WRITE_ERROR) answer.Code = CURLE_OK;
    answer.Stalled = watch.Stalled();
    ForgetTransferLocals(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.Status);
    answer.Location = headers.Value("Location");
    // A body is text up to its first zero byte.
    answer.Body.resize(answer.Body.find('\0') == std::string::npos ? answer.Body.size()
                                                                   : answer.Body.find('\0'));
    return answer;
}

int ResultOf(const BoundedExchange& exchange, const Answer& answer) {
    if (exchange.Cancelled()) return rc::kCancelled;
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
                         const std::string& user, const std::string& password, AddressedDevice& out,
                         const AddressQueryLimits& limits) {
    BoundedExchange exchange(limits.Budget, limits.Cancelled);
    if (!exchange.Handle() || host.empty()) return rc::kFailed;
    const std::string bracketed = BracketedHost(host);
    const std::string base = scheme + "://" + bracketed + ":" + std::to_string(port);

    const Answer list = Exchange(exchange, limits.ConnectTimeoutMs, base + kSystemListPath, user,
                                 password, nullptr);
    if (const int result = ResultOf(exchange, list); result != rc::kOk) {
        // Nobody took the connection: the caller need not wait at this port again.
        curl_off_t connected = 0;
        curl_easy_getinfo(exchange.Handle(), CURLINFO_CONNECT_TIME_T, &connected);
        if (result == rc::kTimeout && connected == 0 && !exchange.OverBudget()) {
            return rc::kCannotConnect;
        }
        return result;
    }
    AddressedDevice device;
    device.Host = bracketed;
    device.Model = LineValue(list.Body, ".system.product.model=");
    device.FirmwareVersion = LineValue(list.Body, ".system.product.firmware.version=");

    const std::string form =
        StrFormat("cgiName=login.cgi&userName=%s&userPasswd=%s&clientName=Strelvane",
                  PercentEncode(user).c_str(), PercentEncode(password).c_str());
    const Answer login = Exchange(exchange, kTimeoutMs, base + kLoginPath, user, password, &form);
    // A query cut short says so, rather than blame the credentials.
    if (exchange.Cancelled()) return rc::kCancelled;
    if (exchange.OverBudget()) return rc::kTimeout;
    // Only the start page as the landing means the device took the credentials.
    const std::string& landing = login.Status == 302 ? login.Location : login.Body;
    if (ResultOf(exchange, login) != rc::kOk || !ContainsNoCase(landing, "index.htm")) {
        return rc::kLoginRefused;
    }

    const Answer network =
        Exchange(exchange, kTimeoutMs, base + kNetworkPath, user, password, nullptr);
    if (const int result = ResultOf(exchange, network); result != rc::kOk) return result;
    device.HostName = LineValue(network.Body, "Host Name=");
    const std::string macLine = LineValue(network.Body, "Mac Address=");
    device.Mac = Trim(macLine.substr(0, macLine.find(',')));
    // The MAC address becomes the device's key; a device without one cannot be listed.
    if (device.Mac.empty()) return rc::kFailed;
    out = std::move(device);
    return rc::kOk;
}
