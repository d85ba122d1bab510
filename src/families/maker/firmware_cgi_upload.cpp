#include "families/maker/firmware_cgi_upload.h"

#include <algorithm>
#include <cstring>

#include "base/result_codes.h"
#include "base/text.h"
#include "pipeline/image_file.h"
#include "web/curl_easy.h"

namespace {

constexpr int kTimeoutMs = 600000;
constexpr size_t kAnswerBytes = 102400;
constexpr long kUploadBufferBytes = 256 * 1024;

// The multipart body, produced piece by piece as libcurl asks for it: part head,
// image, closing part.
class BodySource {
public:
    BodySource(std::string head, ImageFile& image, int64_t imageStart, int64_t imageBytes,
               std::string closing)
        : head_(std::move(head)),
          image_(image),
          imageStart_(imageStart),
          imageBytes_(imageBytes),
          imageLeft_(imageBytes),
          closing_(std::move(closing)) {}

    // Back to the first byte, for a request sent again (an authentication challenge).
    bool Rewind() {
        headSent_ = 0;
        closingSent_ = 0;
        imageLeft_ = imageBytes_;
        return imageBytes_ == 0 || image_.Seek(imageStart_);
    }

    static int OnSeek(void* self, curl_off_t offset, int origin) {
        if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
        return static_cast<BodySource*>(self)->Rewind() ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
    }

    int64_t Length() const {
        return static_cast<int64_t>(head_.size()) + imageLeft_ +
               static_cast<int64_t>(closing_.size());
    }

    static size_t OnRead(char* buffer, size_t size, size_t count, void* self) {
        return static_cast<BodySource*>(self)->Fill(buffer, size * count);
    }

private:
    size_t Fill(char* out, size_t room) {
        size_t filled = Copy(head_, headSent_, out, room);
        if (filled < room && imageLeft_ > 0) {
            const size_t want = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(room - filled), imageLeft_));
            const int64_t got = image_.Read(out + filled, want);
            // A file that shrank or failed to read would leave the body short of its
            // announced length.
            if (got <= 0) return CURL_READFUNC_ABORT;
            imageLeft_ -= got;
            filled += static_cast<size_t>(got);
        }
        if (filled < room && imageLeft_ == 0)
            filled += Copy(closing_, closingSent_, out + filled, room - filled);
        return filled;
    }

    static size_t Copy(const std::string& text, size_t& done, char* out, size_t room) {
        const size_t count = std::min(room, text.size() - done);
        std::memcpy(out, text.data() + done, count);
        done += count;
        return count;
    }

    std::string head_;
    ImageFile& image_;
    const int64_t imageStart_;
    const int64_t imageBytes_;
    int64_t imageLeft_;
    std::string closing_;
    size_t headSent_ = 0;
    size_t closingSent_ = 0;
};

// Keeps the first 102400 bytes of the answer and lets the rest pass.
size_t OnAnswer(char* data, size_t size, size_t count, void* answer) {
    auto* text = static_cast<std::string*>(answer);
    const size_t bytes = size * count;
    if (text->size() < kAnswerBytes)
        text->append(data, std::min(bytes, kAnswerBytes - text->size()));
    return bytes;
}

}  // namespace

std::string ImageFileName(const std::string& path) {
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string FirmwareUpgradeUrl(const std::string& scheme, const std::string& host, int port,
                               const std::string& fileName) {
    return StrFormat("%s://%s:%d/cgi-bin/admin/firmwareupgrade.cgi?filename=%s", scheme.c_str(),
                     host.c_str(), port, PercentEncode(fileName).c_str());
}

namespace {

// One upload request with `auth` as the only authentication method; the HTTP status in
// `status` (0 when none came) and the WWW-Authenticate challenge of the last answer.
CURLcode Send(const std::string& user, const std::string& password, const std::string& url,
              BodySource& body, long auth, std::string& answer, long& status,
              std::string& challenge, StallWatch& watch) {
    status = 0;
    answer.clear();
    CurlEasy handle = NewCurlEasy();
    if (!handle || !body.Rewind()) return CURLE_FAILED_INIT;
    CURL* h = handle.get();
    ApplyCommonOptions(h, kTimeoutMs, false);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Strelvane");
    if (!user.empty() || !password.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, auth);
    }
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.Length()));
    // Four times libcurl's default: a quarter of the read and send calls per image.
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &BodySource::OnRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &body);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &BodySource::OnSeek);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &body);
    CurlHeaderList headers;
    AppendHeader(headers, "Content-Type: multipart/form-data; boundary=AsCg5y");
    // Embedded web servers often never answer "Expect: 100-continue".
    AppendHeader(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnAnswer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    AnswerHeaders fields(watch);
    fields.Attach(h);
    watch.Restart();
    watch.Attach(h);
    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    challenge = fields.Value("WWW-Authenticate");
    return code;
}

}  // namespace

int UploadFirmwareCgi(const std::string& user, const std::string& password, const std::string& url,
                      const std::string& imagePath, const std::string& fileName,
                      std::string& responseOut, std::stop_token stop) {
    ImageFile image;
    if (!image.Open(imagePath)) return rc::kFailed;
    // An image of the firmware store goes without the store's size header; one that
    // starts with its mark is sent whole. (A stored image of 4 bytes leaves an empty
    // file part.)
    const int64_t start = image.HasStoreHeader() ? static_cast<int64_t>(kStoreHeaderBytes) : 0;
    BodySource body(StrFormat("--AsCg5y\r\nContent-Disposition: form-data; name=\"%s\"; "
                              "filename=\"%s\"\r\nContent-Type: application/octet-stream\r\n\r\n",
                              fileName.c_str(), fileName.c_str()),
                    image, start, image.FileSize() - start, "\r\n--AsCg5y--\r\n");
    StallWatch watch(kTimeoutMs, [&stop] { return stop.stop_requested(); });
    std::string answer;
    std::string challenge;
    long status = 0;
    // Basic goes with the first request, so that the image crosses the wire once. A
    // device that demands Digest says so in its challenge and gets the image again,
    // answering that challenge (libcurl first asks with an empty body).
    CURLcode code =
        Send(user, password, url, body, CURLAUTH_BASIC, answer, status, challenge, watch);
    if (status == 401 && StartsWith(ToLowerAscii(Trim(challenge)), "digest")) {
        code = Send(user, password, url, body, CURLAUTH_DIGEST, answer, status, challenge, watch);
    }
    // A device may refuse (401, 404) before it has read the whole body and close the
    // connection: its status is the answer, not the broken send.
    if (status != 0 && status != 200) return ResultFromStatus(status);
    if (watch.Aborted()) return rc::kCancelled;
    if (code != CURLE_OK) return ResultFromCurl(code, watch.Stalled(), true);
    responseOut = answer.substr(0, answer.find('\0'));
    return answer.find("cfg_system_upgradeError") != std::string::npos ? rc::kImageRejected
                                                                       : rc::kOk;
}
