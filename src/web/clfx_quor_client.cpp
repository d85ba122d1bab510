#include "web/clfx_quor_client.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"

namespace CLFX {

namespace {

constexpr const char* kUserAgent = "Quorlent_Agent";
constexpr const char* kAccept = "Accept: text/html, application/xhtml+xml, */*";
constexpr const char* kLoginPath = "/login.cgi/cgi_main.cgi?";

std::string HeaderName(const std::string& line) { return Trim(line.substr(0, line.find(':'))); }

// Later lines replace earlier ones of the same name, as the NVR's own client does.
std::vector<std::string> MergeHeaders(const std::vector<std::string>& lines) {
    std::vector<std::string> merged;
    for (const std::string& line : lines) {
        std::erase_if(merged, [&](const std::string& old) {
            return EqualsNoCase(HeaderName(old), HeaderName(line));
        });
        merged.push_back(line);
    }
    return merged;
}

struct ReplyCollector {
    std::string Body;
    size_t Received = 0;
    bool TooLarge = false;

    static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
        auto* collector = static_cast<ReplyCollector*>(self);
        const std::string_view piece(data, size * count);
        // Returning less than was given makes libcurl end the transfer.
        if (piece.size() > CLFXQuorClient::kReplyLimit - collector->Received) {
            collector->TooLarge = true;
            return 0;
        }
        collector->Received += piece.size();
        collector->Body += piece.substr(0, piece.find('\0'));
        return piece.size();
    }
};

}  // namespace

bool CLFXQuorClient::AddHeader(const std::string& line) {
    headers_.push_back(line);
    return false;
}

bool CLFXQuorClient::SetProxy(const std::string& name, const std::string& user,
                              const std::string& password) {
    proxyName_ = name;
    proxyUser_ = user;
    proxyPassword_ = password;
    return false;
}

bool CLFXQuorClient::SetTimeout(uint32_t ms) {
    timeoutMs_ = ms;
    return false;
}

bool CLFXQuorClient::Connect(const std::string& host, int port) {
    std::string bracketed = host;
    BracketHost(bracketed);
    baseUrl_ = (tls_ ? "https://" : "http://") + bracketed + ":" + std::to_string(port);
    handle_ = NewCurlEasy();
    return true;
}

bool CLFXQuorClient::BracketHost(std::string& host) {
    if (host.find(':') == std::string::npos) return false;
    if (host.find('[') == std::string::npos) host.insert(0, "[");
    if (host.find(']') == std::string::npos) host += "]";
    return true;
}

int CLFXQuorClient::Request(const std::string& verb, const std::string& path,
                            const std::string& body, std::string& reply, const std::string& user,
                            const std::string& password) {
    reply.clear();
    std::vector<std::string> queued = std::move(headers_);
    headers_.clear();
    if (!handle_) return 0;
    CURL* h = handle_.get();

    ApplyCommonOptions(h, static_cast<int>(timeoutMs_), true);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, tls_ ? "https" : "http");
    curl_easy_setopt(h, CURLOPT_PROXY, proxyName_.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxyUser_.empty() ? nullptr : proxyUser_.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD,
                     proxyUser_.empty() ? nullptr : proxyPassword_.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    const std::string url = baseUrl_ + path;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(h, CURLOPT_USERNAME, user.empty() ? nullptr : user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, user.empty() ? nullptr : password.c_str());

    // The handle is reused: every request states its method afresh.
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    if (verb == "GET" && body.empty()) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
        if (verb != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    std::vector<std::string> lines = {kAccept};
    lines.insert(lines.end(), queued.begin(), queued.end());
    lines = MergeHeaders(lines);
    CurlHeaderList list;
    // libcurl would add headers of its own that this client never sends.
    AppendHeader(list, "Expect:");
    const bool typed = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return EqualsNoCase(HeaderName(line), "Content-Type");
    });
    if (!typed) AppendHeader(list, "Content-Type:");
    for (const std::string& line : lines) AppendHeader(list, line);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());

    StallWatch watch(static_cast<int>(timeoutMs_));
    AnswerHeaders answer(watch);
    ReplyCollector collector;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &ReplyCollector::OnWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &collector);
    answer.Attach(h);
    watch.Attach(h);

    const CURLcode code = curl_easy_perform(h);
    ForgetTransferLocals(h);
    if (collector.TooLarge) {
        errorText_ = "answer too large";
        return rc::kAnswerTooLarge;
    }
    if (code != CURLE_OK) {
        errorText_ = curl_easy_strerror(code);
        return 0;
    }
    errorText_.clear();
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status == 302) reply = answer.Value("Location");
    if (status == 200) reply = std::move(collector.Body);
    return static_cast<int>(status);
}

bool CLFXQuorClient::Login(const std::string& user, const std::string& password,
                           bool withClientName) {
    // Escaped, so that "&", "=", "+", "%", "#" or a blank in a password reach the NVR
    // as typed instead of cutting the form apart.
    const char* format = withClientName
                             ? "cgiName=login.cgi&userName=%s&userPasswd=%s&clientName=Strelvane"
                             : "cgiName=login.cgi&userName=%s&userPasswd=%s&unNeedLogged=true";
    const std::string body =
        StrFormat(format, PercentEncode(user).c_str(), PercentEncode(password).c_str());
    std::string reply;
    const int status = Request("POST", kLoginPath, body, reply, "", "");
    return (status == 302 || status == 200) && ContainsNoCase(reply, "index.htm");
}

bool CLFXQuorClient::Close() {
    handle_.reset();
    return false;
}

std::string CLFXQuorClient::GetErrorText() { return errorText_; }

}  // namespace CLFX
