#include "web/onvif_session.h"

#include <algorithm>
#include <chrono>

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "base/xml_names.h"
#include "device/ip_cam_info.h"

namespace {

constexpr const char* kUserAgent = "Strelvane";

int64_t NowUnixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The answer's body, up to soap::kMaxAnswerBytes, and whether any answer of the
// exchange (a 401 before the real one) offered HTTP Digest.
struct Received {
    std::string Body;
    bool TooLarge = false;
    bool DigestOffered = false;
    StallWatch* Watch = nullptr;
};

size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* received = static_cast<Received*>(self);
    const size_t n = size * count;
    if (n > soap::kMaxAnswerBytes - received->Body.size()) {
        received->TooLarge = true;
        return 0;
    }
    received->Body.append(data, n);
    return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* received = static_cast<Received*>(self);
    const std::string_view line(data, size * count);
    received->Watch->Touch();
    if (StartsWith(ToLowerAscii(line.substr(0, 17)), "www-authenticate:") &&
        ContainsNoCase(line, "digest")) {
        received->DigestOffered = true;
    }
    return size * count;
}

}  // namespace

COnvifSession::COnvifSession(std::vector<std::string> addresses, std::string user,
                             std::string password, int timeoutMs)
    : addresses_(std::move(addresses)),
      user_(std::move(user)),
      password_(std::move(password)),
      timeoutMs_(timeoutMs) {
    if (addresses_.empty()) addresses_.emplace_back();
}

void COnvifSession::Forget() {
    auth_ = OnvifAuth::Unknown;
    clockKnown_ = false;
    clockOffset_ = 0;
    // A new handle forgets the Digest state of the old one.
    handle_.reset();
}

void COnvifSession::PreferAddress(const std::string& address) {
    std::erase(addresses_, address);
    addresses_.insert(addresses_.begin(), address);
    std::erase(addresses_, std::string());
    if (addresses_.empty()) addresses_.emplace_back();
    current_ = 0;
}

COnvifSession::Exchange COnvifSession::SendOnce(const std::string& url, const std::string& body,
                                                Login login, SoapAnswer& answer) {
    Exchange e;
    if (!handle_) handle_ = NewCurlEasy();
    CURL* handle = handle_.get();
    if (!handle) {
        e.Code = rc::kFailed;
        return e;
    }
    ForgetTransferLocals(handle);
    e.Code = Ended();
    if (e.Code != rc::kOk) return e;
    StallWatch watch(timeoutMs_, [this] { return Ended() != rc::kOk; });
    Received received;
    received.Watch = &watch;
    ApplyCommonOptions(handle, bounds_.ConnectTimeoutMs > 0 ? bounds_.ConnectTimeoutMs : timeoutMs_,
                       false);
    // The deadline holds even for a device that keeps a byte moving now and then.
    long totalMs = 0;
    if (bounds_.Deadline != std::chrono::steady_clock::time_point::max()) {
        totalMs = std::max<long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        bounds_.Deadline - std::chrono::steady_clock::now())
                                        .count());
    }
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, totalMs);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    if (login == Login::Digest) {
        curl_easy_setopt(handle, CURLOPT_USERNAME, user_.c_str());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, password_.c_str());
        curl_easy_setopt(handle, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
    } else {
        // One way of logging in at a time: a token goes without HTTP authentication.
        curl_easy_setopt(handle, CURLOPT_HTTPAUTH, CURLAUTH_NONE);
        curl_easy_setopt(handle, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(handle, CURLOPT_PASSWORD, nullptr);
    }
    CurlHeaderList headers;
    AppendHeader(headers, "Expect:");
    AppendHeader(headers, std::string("Content-Type: ") + soap::kContentType);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &received);
    watch.Attach(handle);
    const CURLcode code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &e.Status);
    ForgetTransferLocals(handle);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, nullptr);
    if (received.TooLarge) {
        e.Code = rc::kAnswerTooLarge;
        return e;
    }
    if (watch.Aborted()) {
        e.Code = Ended();
        e.Status = 0;
        return e;
    }
    if (code != CURLE_OK) {
        e.Code = ResultFromCurl(code, watch.Stalled(), true);
        e.Status = 0;
        return e;
    }
    e.DigestOffered = received.DigestOffered;
    e.Parsed = ParseSoapAnswer(received.Body, answer);
    return e;
}

COnvifSession::Exchange COnvifSession::Send(std::string_view operation, Login login,
                                            SoapAnswer& answer) {
    std::string body;
    if (login == Login::Token) {
        const UsernameToken token =
            MakeUsernameToken(user_, password_, NowUnixSeconds() + clockOffset_);
        body = BuildSoapRequest(operation, &token);
    } else {
        body = BuildSoapRequest(operation, nullptr);
    }
    Exchange first;
    for (size_t tried = 0; tried < addresses_.size(); ++tried) {
        const size_t at = (current_ + tried) % addresses_.size();
        Exchange e = SendOnce(addresses_[at], body, login, answer);
        if (e.Code == rc::kOk || e.Code == rc::kAnswerTooLarge) {
            current_ = at;
            return e;
        }
        if (tried == 0) first = e;
        if (e.Code == rc::kCancelled) return e;
    }
    return first;
}

bool COnvifSession::Refused(const Exchange& e, const SoapAnswer& answer) {
    if (e.Code != rc::kOk) return false;
    if (e.Status == 401 || e.Status == 403) return true;
    return e.Status != 200 && e.Parsed && IsNotAuthorized(answer);
}

int COnvifSession::Result(const Exchange& e, std::string_view operation,
                          const SoapAnswer& answer) const {
    if (e.Code != rc::kOk) return e.Code;
    if (e.Status == 404) return rc::kHttpNotFound;
    if (Refused(e, answer)) return rc::kLoginRefused;
    if (e.Status == 200 && e.Parsed && !answer.IsFault &&
        LocalName(answer.Payload.name()) == std::string(operation) + "Response") {
        return rc::kOk;
    }
    Trace("ONVIF %.*s at %s: status %ld%s%s", static_cast<int>(operation.size()), operation.data(),
          Address().c_str(), e.Status, answer.IsFault ? ", fault: " : "",
          answer.IsFault ? answer.FaultReason.c_str() : "");
    return rc::kFailed;
}

int COnvifSession::Ended() const {
    if (bounds_.Cancelled && bounds_.Cancelled()) return rc::kCancelled;
    if (std::chrono::steady_clock::now() >= bounds_.Deadline) return rc::kTimeout;
    return rc::kOk;
}

int COnvifSession::CallWith(std::string_view operation, Login login, SoapAnswer& answer,
                            Exchange& e) {
    e = Send(operation, login, answer);
    lastAnswered_ = e.Code == rc::kOk;
    return Result(e, operation, answer);
}

int COnvifSession::Call(std::string_view operation, SoapAnswer& answer) {
    Exchange e;
    if (auth_ != OnvifAuth::Unknown) {
        const Login settled = auth_ == OnvifAuth::Digest ? Login::Digest : Login::Token;
        const int result = CallWith(operation, settled, answer, e);
        if (!Refused(e, answer)) return result;
        // What worked before is refused: the device may have restarted without its clock,
        // or a new firmware may want the other way of logging in.
        Trace("ONVIF %s: the login that worked is refused; trying again", Address().c_str());
        Forget();
    }
    // Asked first without credentials, with the whole request: libcurl would otherwise
    // probe for a Digest challenge with an empty body, which a device that wants a
    // UsernameToken cannot read.
    const int plain = CallWith(operation, Login::None, answer, e);
    if (!Refused(e, answer)) return plain;
    if (e.Status == 401 && e.DigestOffered) {
        const int digest = CallWith(operation, Login::Digest, answer, e);
        if (Refused(e, answer)) return rc::kLoginRefused;
        if (digest == rc::kOk) auth_ = OnvifAuth::Digest;
        return digest;
    }
    // The device wants a UsernameToken, made in its own clock.
    if (!clockKnown_) MeasureClock();
    const int token = CallWith(operation, Login::Token, answer, e);
    if (Refused(e, answer)) return rc::kLoginRefused;
    if (token == rc::kOk) auth_ = OnvifAuth::UsernameToken;
    return token;
}

int COnvifSession::MeasureClock() {
    SoapAnswer answer;
    Exchange e;
    const int result = CallWith("GetSystemDateAndTime", Login::None, answer, e);
    if (result != rc::kOk) return result;
    int64_t device = 0;
    if (!DeviceUtcSeconds(answer.Payload, device)) return rc::kFailed;
    clockOffset_ = device - NowUnixSeconds();
    clockKnown_ = true;
    return rc::kOk;
}

bool DeviceUtcSeconds(const pugi::xml_node& response, int64_t& seconds) {
    const pugi::xml_node utc = ChildNamed(ChildNamed(response, "SystemDateAndTime"), "UTCDateTime");
    const pugi::xml_node date = ChildNamed(utc, "Date");
    const pugi::xml_node time = ChildNamed(utc, "Time");
    if (!date || !time) return false;
    auto number = [](const pugi::xml_node& parent, const char* name, int64_t low, int64_t high,
                     int64_t& out) {
        const std::string text = ChildText(parent, name);
        if (text.empty() || text.size() > 4 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        out = ParseDecimal(text);
        return out >= low && out <= high;
    };
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!number(date, "Year", 1970, 9999, year) || !number(date, "Month", 1, 12, month) ||
        !number(date, "Day", 1, 31, day) || !number(time, "Hour", 0, 23, hour) ||
        !number(time, "Minute", 0, 59, minute) || !number(time, "Second", 0, 60, second)) {
        return false;
    }
    // Days since 30 December 1899, which is 25569 days before 1970.
    const double days = OleDaysFromCivil(static_cast<int>(year), static_cast<int>(month),
                                         static_cast<int>(day), 0, 0, 0) -
                        25569.0;
    seconds = static_cast<int64_t>(days) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}
