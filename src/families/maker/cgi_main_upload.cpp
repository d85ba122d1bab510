#include "families/maker/cgi_main_upload.h"

#include "base/base64.h"
#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "families/maker/upload_answer.h"
#include "families/maker/upload_socket.h"
#include "pipeline/image_file.h"

namespace {

constexpr size_t kAnswerBytes = 2048;
// How long an answer that came while the image was still going out may take to be read.
constexpr std::chrono::milliseconds kEarlyAnswerWait(500);

// The device parses this exact form, down to the boundary, the file name "E" and the
// final cgiName part.
constexpr const char* kPartHead =
    "-----------------------------7dd232271207a8\r\n"
    "Content-Disposition: form-data; name=\"file\"; filename=\"E\"\r\n"
    "Content-Type: application/octet-stream\r\n\r\n";
constexpr const char* kClosingPart =
    "\r\n-----------------------------7dd232271207a8\r\n"
    "Content-Disposition: form-data; name=\"cgiName\"\r\n\r\n"
    "upgrade.cgi\r\n-----------------------------7dd232271207a8--\r\n";

// Host and port of "scheme://host[:port]/path", and whether the scheme is https; false
// when there is no host or the port is not a port number.
bool SplitHostPort(const std::string& url, std::string& host, int& port, bool& tls) {
    const size_t marker = url.find("://");
    const size_t start = marker == std::string::npos ? 0 : marker + 3;
    tls = marker != std::string::npos && EqualsNoCase(url.substr(0, marker), "https");
    const size_t end = url.find_first_of("/?#", start);
    const std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    const size_t colon = authority.rfind(':');
    host = authority.substr(0, colon);
    port = tls ? 443 : 80;
    if (colon != std::string::npos) {
        const std::string digits = authority.substr(colon + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const int64_t number = ParseDecimal(digits);
        if (number < 1 || number > 65535) return false;
        port = static_cast<int>(number);
    }
    return !host.empty();
}

std::string RequestHead(const std::string& host, int64_t contentLength, const std::string& user,
                        const std::string& password) {
    return StrFormat(
        "POST /cgi-bin/cgi_main.cgi HTTP/1.1\r\n"
        "Accept: */*\r\n"
        "Referer: http://%s/cfg_system_upgrade.htm\r\n"
        "Accept-Language: zh-tw\r\n"
        "User-Agent: QuorvantCFG\r\n"
        "Content-Type: multipart/form-data; boundary=---------------------------7dd232271207a8\r\n"
        "Accept-Encoding: gzip, deflate\r\n"
        "Host: %s\r\n"
        "Content-Length: %lld\r\n"
        "Connection: Keep-Alive\r\n"
        "Cache-Control: no-cache\r\n"
        "Authorization: Basic %s\r\n\r\n",
        host.c_str(), host.c_str(), static_cast<long long>(contentLength),
        EncodeBase64(user + ":" + password).c_str());
}

int ExchangeFailure(UploadSocket::Outcome outcome) {
    switch (outcome) {
        case UploadSocket::Outcome::Stalled:
            return rc::kTimeout;
        case UploadSocket::Outcome::Stopped:
            return rc::kCancelled;
        default:
            return rc::kFailed;
    }
}

}  // namespace

int JudgeAnswer(const std::string& answer) {
    if (answer.find("cfg_system_upgradeError") != std::string::npos) return rc::kImageRejected;
    // An HTTP error is a refusal, never a taken image. A device that closes without an
    // answer, having read everything (it may restart at once), has taken the image.
    if (StartsWith(answer, "HTTP/")) {
        const size_t blank = answer.find(' ');
        const int64_t status =
            blank == std::string::npos ? 0 : ParseDecimal(answer.substr(blank + 1));
        if (status == 401) return rc::kHttpUnauthorized;
        if (status == 404) return rc::kHttpNotFound;
        if (status >= 400) return rc::kFailed;
    }
    return rc::kOk;
}

int UploadCgiMain(const std::string& user, const std::string& password, const std::string& url,
                  const std::string& imagePath, std::atomic<int64_t>& sizeOut,
                  std::atomic<int64_t>& sentOut, const CgiMainLimits& limits,
                  std::stop_token stop) {
    ImageFile image;
    if (!image.Open(imagePath)) return rc::kFileOpenFailed;
    const int64_t start = image.HasStoreHeader() ? static_cast<int64_t>(kStoreHeaderBytes) : 0;
    if (!image.Seek(start)) return rc::kFileOpenFailed;
    const int64_t size = image.FileSize() - start;
    sentOut = 0;
    sizeOut = size;

    std::string host;
    int port = 0;
    bool tls = false;
    if (!SplitHostPort(url, host, port, tls)) return rc::kCannotConnect;
    UploadSocket socket(limits.Stall, stop);
    if (!socket.Connect(host, port, limits.Connect, tls)) {
        return stop.stop_requested() ? rc::kCancelled : rc::kCannotConnect;
    }

    const std::string partHead = kPartHead;
    const std::string closing = kClosingPart;
    const int64_t contentLength =
        static_cast<int64_t>(partHead.size()) + size + static_cast<int64_t>(closing.size());
    const std::string head = RequestHead(host, contentLength, user, password);
    const UploadSocket::Outcome headSent = socket.Send(head.data(), head.size());
    if (headSent == UploadSocket::Outcome::Stopped) return rc::kCancelled;
    if (headSent != UploadSocket::Outcome::Done) return rc::kSendHeadFailed;
    UploadSocket::Outcome sent = socket.Send(partHead.data(), partHead.size());
    // Exactly `size` bytes: a file that grew since its size was taken is cut there, so
    // the body never runs past its Content-Length; one that shrank leaves it short.
    if (sent == UploadSocket::Outcome::Done) sent = socket.SendFile(image, size, sentOut);
    Trace("Content-Length = %lld FW len = %lld", static_cast<long long>(contentLength),
          static_cast<long long>(sentOut.load()));
    if (sent == UploadSocket::Outcome::Done) sent = socket.Send(closing.data(), closing.size());
    std::string answer;
    if (sent == UploadSocket::Outcome::Failed) {
        // A device that refuses the request (wrong credentials) may answer at once and
        // close without reading the image; its answer says more than the broken send.
        socket.ReceiveAnswer(answer, kAnswerBytes, kEarlyAnswerWait);
        const int refusal = StartsWith(answer, "HTTP/") ? JudgeAnswer(answer) : rc::kOk;
        return refusal != rc::kOk ? refusal : rc::kFailed;
    }
    if (sent != UploadSocket::Outcome::Done) return ExchangeFailure(sent);

    const UploadSocket::Outcome received =
        socket.ReceiveAnswer(answer, kAnswerBytes, limits.Answer);
    if (received != UploadSocket::Outcome::Done) return ExchangeFailure(received);
    if (answer.empty()) Trace("no answer after the whole image; the device's return decides");
    return JudgeAnswer(answer);
}
