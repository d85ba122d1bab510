#include "families/onvif/onvif_upload.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/trace.h"
#include "pipeline/image_file.h"
#include "web/curl_easy.h"

namespace {

// The image's bytes as libcurl asks for them, from `start` to the end of the file;
// rewound when libcurl sends the request again (after an authentication challenge).
class ImageSource {
public:
    ImageSource(ImageFile& file, int64_t start, std::atomic<int64_t>& sent)
        : file_(file), start_(start), left_(file.FileSize() - start), sent_(sent) {}

    static size_t OnRead(char* out, size_t size, size_t count, void* self) {
        auto* source = static_cast<ImageSource*>(self);
        const size_t want = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(size * count), source->left_));
        if (want == 0) return 0;
        const int64_t got = source->file_.Read(out, want);
        // A file that shrank or failed to read would leave the body short.
        if (got <= 0) return CURL_READFUNC_ABORT;
        source->left_ -= got;
        source->sent_ += got;
        return static_cast<size_t>(got);
    }

    static int OnSeek(void* self, curl_off_t offset, int origin) {
        auto* source = static_cast<ImageSource*>(self);
        if (offset != 0 || origin != SEEK_SET || !source->file_.Seek(source->start_)) {
            return CURL_SEEKFUNC_CANTSEEK;
        }
        source->left_ = source->file_.FileSize() - source->start_;
        source->sent_ = 0;
        return CURL_SEEKFUNC_OK;
    }

private:
    ImageFile& file_;
    const int64_t start_;
    int64_t left_;
    std::atomic<int64_t>& sent_;
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

int ResultOfStatus(long status) {
    switch (status) {
        case 200:
        case 202:
        case 204:
            return rc::kOk;
        case 415:
            return rc::kImageRejected;
        case 500:
            return rc::kCameraInstallFailed;
        case 401:
        case 403:
            return rc::kLoginRefused;
        default:
            return ResultFromStatus(status);
    }
}

}  // namespace

int UploadOnvifImage(const std::string& uploadUri, const std::string& path, bool digest,
                     const std::string& user, const std::string& password, int stallMs,
                     std::atomic<int64_t>& size, std::atomic<int64_t>& sent, std::stop_token stop) {
    ImageFile file;
    if (!file.Open(path)) return rc::kFileOpenFailed;
    const int64_t start = file.HasStoreHeader() ? static_cast<int64_t>(kStoreHeaderBytes) : 0;
    if (!file.Seek(start)) return rc::kFileOpenFailed;
    size = file.FileSize() - start;
    sent = 0;
    ImageSource source(file, start, sent);

    CurlEasy handle = NewCurlEasy();
    if (!handle) return rc::kFailed;
    CURL* h = handle.get();
    ApplyCommonOptions(h, stallMs, false);
    curl_easy_setopt(h, CURLOPT_URL, uploadUri.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Strelvane");
    if (digest) {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
    }
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size.load()));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &ImageSource::OnRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &source);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &ImageSource::OnSeek);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &source);
    CurlHeaderList headers;
    AppendHeader(headers, "Content-Type: application/octet-stream");
    // Embedded web servers often never answer "Expect: 100-continue".
    AppendHeader(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    StallWatch watch(stallMs, [&stop] { return stop.stop_requested(); });
    watch.Attach(h);
    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (watch.Aborted()) return rc::kCancelled;
    if (code != CURLE_OK) {
        Trace("ONVIF upload to %s: %s", uploadUri.c_str(), curl_easy_strerror(code));
        return code == CURLE_ABORTED_BY_CALLBACK && !watch.Stalled()
                   ? rc::kFailed
                   : ResultFromCurl(code, watch.Stalled(), true);
    }
    if (status != 200) Trace("ONVIF upload to %s: status %ld", uploadUri.c_str(), status);
    return ResultOfStatus(status);
}
