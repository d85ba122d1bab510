#include "upgrade/firmware_cgi_upload.h"

#include <algorithm>
#include <cstring>

#include "base/result_codes.h"
#include "base/text.h"
#include "upgrade/image_file.h"
#include "web/curl_easy.h"

namespace {

constexpr int kTimeoutMs = 600000;
constexpr size_t kAnswerBytes = 102400;
// The image part starts after the image's first 4 bytes.
constexpr int64_t kImageOffset = 4;

// The multipart body, produced piece by piece as libcurl asks for it: part head,
// image, closing part.
class BodySource {
public:
    BodySource(std::string head, ImageFile& image, int64_t imageBytes, std::string closing)
        : head_(std::move(head)),
          image_(image),
          imageLeft_(imageBytes),
          closing_(std::move(closing)) {}

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

int UploadFirmwareCgi(const std::string& user, const std::string& password, const std::string& url,
                      const std::string& imagePath, const std::string& fileName,
                      std::string& responseOut, std::stop_token stop) {
    ImageFile image;
    if (!image.Open(imagePath)) return rc::kFailed;
    // A file of 4 bytes or fewer leaves an empty file part.
    const int64_t imageBytes = std::max<int64_t>(0, image.FileSize() - kImageOffset);
    if (imageBytes > 0 && !image.Seek(kImageOffset)) return rc::kFailed;
    BodySource body(StrFormat("--AsCg5y\r\nContent-Disposition: form-data; name=\"%s\"; "
                              "filename=\"%s\"\r\nContent-Type: application/octet-stream\r\n\r\n",
                              fileName.c_str(), fileName.c_str()),
                    image, imageBytes, "\r\n--AsCg5y--\r\n");

    CurlEasy handle = NewCurlEasy();
    if (!handle) return rc::kFailed;
    CURL* h = handle.get();
    ApplyCommonOptions(h, kTimeoutMs, false);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Strelvane");
    if (!user.empty() || !password.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
        // Basic alone makes libcurl send the credentials with the first request; with a
        // choice of methods it would send the image once to be challenged and again.
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.Length()));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &BodySource::OnRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &body);
    CurlHeaderList headers;
    AppendHeader(headers, "Content-Type: multipart/form-data; boundary=AsCg5y");
    // Embedded web servers often never answer "Expect: 100-continue".
    AppendHeader(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    std::string answer;
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnAnswer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    StallWatch watch(kTimeoutMs, [&stop] { return stop.stop_requested(); });
    watch.Attach(h);

    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // A device may refuse (401, 404) before it has read the whole body and close the
    // connection: its status is the answer, not the broken send.
    if (status != 0 && status != 200) return ResultFromStatus(status);
    if (watch.Aborted()) return rc::kCancelled;
    if (code != CURLE_OK) return ResultFromCurl(code, watch.Stalled(), true);
    responseOut = answer.substr(0, answer.find('\0'));
    return answer.find("cfg_system_upgradeError") != std::string::npos ? rc::kImageRejected
                                                                       : rc::kOk;
}
