#include "web/curl_easy.h"

#include <csignal>
#include <mutex>

#include "base/result_codes.h"
#include "base/text.h"

void EnsureCurlReady() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

CurlEasy NewCurlEasy() {
    EnsureCurlReady();
    return CurlEasy(curl_easy_init());
}

void AppendHeader(CurlHeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown) {
        list.release();
        list.reset(grown);
    }
}

void ApplyCommonOptions(CURL* handle, int timeoutMs, bool useSystemProxy) {
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    // Without CURLOPT_PROXY libcurl reads http_proxy, https_proxy and no_proxy; an empty
    // proxy name switches any proxy off.
    if (!useSystemProxy) curl_easy_setopt(handle, CURLOPT_PROXY, "");
}

void ApplyServerProxy(CURL* handle, const ServerProxy* proxy) {
    if (!proxy || proxy->Address.empty()) return;
    curl_easy_setopt(handle, CURLOPT_PROXY, proxy->Address.c_str());
    if (proxy->User.empty()) return;
    curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, proxy->User.c_str());
    curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, proxy->Password.c_str());
    curl_easy_setopt(handle, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
}

void ForgetTransferLocals(CURL* h) {
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
}

void ApplyCredentials(CURL* handle, const std::string& user, const std::string& password) {
    if (user.empty() && password.empty()) return;
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
}

StallWatch::StallWatch(int timeoutMs, std::function<bool()> abortCheck)
    : limit_(timeoutMs), abortCheck_(std::move(abortCheck)) {
    Restart();
}

void StallWatch::Attach(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &StallWatch::OnProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

void StallWatch::Restart() {
    lastMove_ = std::chrono::steady_clock::now();
    lastDown_ = 0;
    lastUp_ = 0;
    stalled_ = false;
    aborted_ = false;
}

void StallWatch::Touch() { lastMove_ = std::chrono::steady_clock::now(); }

int StallWatch::OnProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow) {
    auto* watch = static_cast<StallWatch*>(self);
    if (watch->abortCheck_ && watch->abortCheck_()) {
        watch->aborted_ = true;
        return 1;
    }
    if (dlNow != watch->lastDown_ || ulNow != watch->lastUp_) {
        watch->lastDown_ = dlNow;
        watch->lastUp_ = ulNow;
        watch->Touch();
        return 0;
    }
    if (watch->limit_.count() > 0 &&
        std::chrono::steady_clock::now() - watch->lastMove_ > watch->limit_) {
        watch->stalled_ = true;
        return 1;
    }
    return 0;
}

void AnswerHeaders::Attach(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &AnswerHeaders::OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
}

std::string AnswerHeaders::Value(const std::string& name) const {
    for (const auto& [key, value] : fields_) {
        if (EqualsNoCase(key, name)) return value;
    }
    return std::string();
}

size_t AnswerHeaders::OnHeader(char* data, size_t size, size_t count, void* self) {
    // Returning less than was given makes libcurl end the transfer.
    return static_cast<AnswerHeaders*>(self)->TakeLine(std::string_view(data, size * count))
               ? size * count
               : 0;
}

bool AnswerHeaders::TakeLine(std::string_view line) {
    watch_.Touch();
    if (StartsWith(line, "HTTP/")) {
        fields_.clear();
        headBytes_ = 0;
    } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
        if (line.size() > kMaxHeadBytes - headBytes_) return false;
        headBytes_ += line.size();
        fields_.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    return true;
}

int ResultFromCurl(CURLcode code, bool stalled, bool detailedNetErrors) {
    if (stalled || code == CURLE_OPERATION_TIMEDOUT) return rc::kTimeout;
    if (!detailedNetErrors) return rc::kFailed;
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return rc::kNameNotResolved;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_PROXY:
            return rc::kProxyRefused;
        case CURLE_COULDNT_CONNECT:
            return rc::kCannotConnect;
        default:
            return rc::kFailed;
    }
}

int ResultFromStatus(long status) {
    if (status == 404) return rc::kHttpNotFound;
    if (status == 401) return rc::kHttpUnauthorized;
    if (status == 407) return rc::kProxyRefused;
    return rc::kFailed;
}

std::string PercentEncode(const std::string& text) {
    EnsureCurlReady();
    char* escaped = curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
    if (!escaped) return std::string();
    std::string out(escaped);
    curl_free(escaped);
    return out;
}
