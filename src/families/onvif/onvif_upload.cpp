#include "families/onvif/onvif_upload.h"

#include <algorithm>

#include "base/result_codes.h"
#include "base/text.h"
#include "base/trace.h"
#include "pipeline/image_file.h"
#include "web/curl_easy.h"

namespace {

// The image's bytes as libcurl asks for them, from `start` to the end of the file;
// rewound for a second POST, or when libcurl sends the request again on its own.
class ImageSource {
public:
    ImageSource(ImageFile& file, int64_t start, std::atomic<int64_t>& sent)
        : file_(file), start_(start), left_(file.FileSize() - start), sent_(sent) {}

    int64_t Size() const { return file_.FileSize() - start_; }
    bool AtEnd() const { return left_ == 0; }

    bool Rewind() {
        if (!file_.Seek(start_)) return false;
        left_ = Size();
        sent_ = 0;
        return true;
    }

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
        if (offset != 0 || origin != SEEK_SET || !source->Rewind()) return CURL_SEEKFUNC_CANTSEEK;
        return CURL_SEEKFUNC_OK;
    }

private:
    ImageFile& file_;
    const int64_t start_;
    int64_t left_;
    std::atomic<int64_t>& sent_;
};

// What the camera's answer to one POST said of logging in.
struct AnswerHead {
    StallWatch* Watch = nullptr;
    bool DigestOffered = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* head = static_cast<AnswerHead*>(self);
    const std::string_view line(data, size * count);
    head->Watch->Touch();
    if (StartsWith(line, "HTTP/")) head->DigestOffered = false;
    if (StartsWith(ToLowerAscii(line.substr(0, 17)), "www-authenticate:") &&
        ContainsNoCase(line.substr(17), "digest")) {
        head->DigestOffered = true;
    }
    return size * count;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// One POST of the image and how it ended.
struct Exchange {
    CURLcode Code = CURLE_OK;
    long Status = 0;  // 0: no answer came
    bool DigestOffered = false;
    bool WholeSent = false;  // every byte of the image went onto the connection
    bool Stalled = false;
    bool Stopped = false;
};

Exchange Post(CURL* h, ImageSource& source, StallWatch& watch, AnswerHead& head) {
    watch.Restart();
    head.DigestOffered = false;
    Exchange e;
    e.Code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &e.Status);
    curl_off_t uploaded = 0;
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    e.WholeSent = source.AtEnd() && uploaded >= source.Size();
    e.DigestOffered = head.DigestOffered;
    e.Stalled = watch.Stalled();
    e.Stopped = watch.Aborted();
    return e;
}

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

int Judge(const Exchange& e, const std::string& uri) {
    if (e.Stopped) return rc::kCancelled;
    // The connection closed, reset or silent after the last byte, without a word: the
    // camera may have restarted at once.
    const bool ended = e.Code == CURLE_GOT_NOTHING || e.Code == CURLE_RECV_ERROR || e.Stalled;
    if (e.Status == 0 && e.WholeSent && ended) {
        Trace("ONVIF upload to %s: no answer after the whole image; the camera's return decides",
              uri.c_str());
        return rc::kOk;
    }
    if (e.Code != CURLE_OK) {
        Trace("ONVIF upload to %s: %s", uri.c_str(), curl_easy_strerror(e.Code));
        return e.Code == CURLE_ABORTED_BY_CALLBACK && !e.Stalled
                   ? rc::kFailed
                   : ResultFromCurl(e.Code, e.Stalled, true);
    }
    if (e.Status != 200) Trace("ONVIF upload to %s: status %ld", uri.c_str(), e.Status);
    return ResultOfStatus(e.Status);
}

}  // namespace

int UploadOnvifImage(const std::string& uploadUri, const std::string& path, const std::string& user,
                     const std::string& password, int stallMs, std::atomic<int64_t>& size,
                     std::atomic<int64_t>& sent, std::stop_token stop) {
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
    AnswerHead head{&watch};
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &head);

    Exchange e = Post(h, source, watch, head);
    if (e.Status == 401 && e.DigestOffered && !e.Stopped) {
        // The handle keeps the challenge's nonce, so this POST answers it at once with
        // the whole image rather than with libcurl's empty probe.
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_DIGEST);
        // On a kept connection that ends without an answer libcurl would send the image
        // once more by itself; a camera that restarts has used up its upload address.
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
        if (!source.Rewind()) return rc::kFileOpenFailed;
        e = Post(h, source, watch, head);
    }
    return Judge(e, uploadUri);
}
