#include "web/web_client.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "base/result_codes.h"
#include "base/text.h"
#include "web/content_range.h"
#include "web/curl_easy.h"

namespace {

// Bodies are read in chunks of this size with a pause after each one, which keeps a
// download from starving the device's other work (about 6.8 MB/s at most).
constexpr size_t kChunkBytes = 102400;
constexpr auto kChunkPause = std::chrono::milliseconds(15);
constexpr const char* kUserAgent = "Strelvane";

struct RequestPlan {
    const std::string& User;
    const std::string& Password;
    const std::string& Url;
    int TimeoutMs = 0;
    bool UseSystemProxy = false;
    bool Post = false;
    std::string Body;
    std::vector<std::string> Headers;
    const ServerProxy* Proxy = nullptr;
};

// Receives the body of the answer; false stops the transfer.
class BodyReceiver {
public:
    virtual ~BodyReceiver() = default;
    virtual bool OnData(const char* data, size_t count) = 0;
};

struct Outcome {
    CURLcode Code = CURLE_OK;
    bool Stalled = false;
    bool Aborted = false;
};

size_t OnWrite(char* data, size_t size, size_t count, void* receiver) {
    return static_cast<BodyReceiver*>(receiver)->OnData(data, size * count) ? size * count : 0;
}

Outcome Perform(CURL* handle, const RequestPlan& plan, BodyReceiver& receiver,
                AnswerHeaders& headers, StallWatch& watch) {
    ApplyCommonOptions(handle, plan.TimeoutMs, plan.UseSystemProxy);
    if (plan.UseSystemProxy) ApplyServerProxy(handle, plan.Proxy);
    curl_easy_setopt(handle, CURLOPT_URL, plan.Url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, static_cast<long>(kChunkBytes));
    ApplyCredentials(handle, plan.User, plan.Password);
    if (plan.Post) {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(plan.Body.size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, plan.Body.c_str());
    }
    CurlHeaderList list;
    // Embedded web servers often never answer "Expect: 100-continue".
    AppendHeader(list, "Expect:");
    for (const std::string& line : plan.Headers) AppendHeader(list, line);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiver);
    headers.Attach(handle);
    watch.Attach(handle);

    Outcome outcome;
    outcome.Code = curl_easy_perform(handle);
    outcome.Stalled = watch.Stalled();
    outcome.Aborted = watch.Aborted();
    return outcome;
}

long StatusOf(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// The first 102400 bytes of a 200 answer.
class TextReceiver : public BodyReceiver {
public:
    explicit TextReceiver(CURL* handle) : handle_(handle) {}

    bool OnData(const char* data, size_t count) override {
        if (!checked_ && !CheckStatus()) return false;
        const size_t room = kChunkBytes - body_.size();
        body_.append(data, std::min(room, count));
        if (count >= room) {
            cut_ = true;
            return false;
        }
        return true;
    }

    bool CheckStatus() {
        checked_ = true;
        const long status = StatusOf(handle_);
        if (status != 200) failure_ = ResultFromStatus(status);
        return status == 200;
    }

    int Failure() const { return failure_; }
    bool Cut() const { return cut_; }
    bool Checked() const { return checked_; }
    const std::string& Body() const { return body_; }

private:
    CURL* handle_;
    std::string body_;
    bool checked_ = false;
    bool cut_ = false;
    int failure_ = 0;
};

}  // namespace

bool RangeStartsAt(const std::string& contentRange, int64_t offset) {
    if (contentRange.empty()) return true;
    const size_t blank = contentRange.find(' ');
    if (blank == std::string::npos) return false;
    return ParseDecimal(contentRange.substr(blank + 1)) == offset;
}

bool RangeOfAnotherSize(const std::string& contentRange, int64_t total) {
    const size_t slash = contentRange.find('/');
    if (slash == std::string::npos || contentRange.compare(slash + 1, 1, "*") == 0) return false;
    return ParseDecimal(contentRange.substr(slash + 1)) != total;
}

namespace {

// Hands the body to a sink in chunks of 102400 bytes, checking the sink's flags before
// each chunk.
class SinkReceiver : public BodyReceiver {
public:
    SinkReceiver(CURL* handle, CMyHTTP& sink, std::string& target, int64_t have, int64_t total,
                 const AnswerHeaders& headers)
        : handle_(handle),
          sink_(sink),
          target_(target),
          have_(have),
          total_(total),
          headers_(headers) {}

    bool OnData(const char* data, size_t count) override {
        if (!begun_ && !Begin()) return false;
        while (count > 0) {
            const size_t take = std::min(count, kChunkBytes - chunk_.size());
            chunk_.append(data, take);
            data += take;
            count -= take;
            if (chunk_.size() == kChunkBytes && !Deliver()) return false;
        }
        return true;
    }

    // The result once libcurl is done; sink flags are looked at by the caller.
    int Finish(const Outcome& outcome) {
        if (failure_ != 0) return Abort(failure_);
        if (sinkStopped_ || outcome.Aborted) return End();
        if (outcome.Code != CURLE_OK) {
            return Abort(ResultFromCurl(outcome.Code, outcome.Stalled, true));
        }
        if (!begun_ && !Begin()) return failure_;
        if (!chunk_.empty()) Deliver();
        return End();
    }

private:
    bool Begin() {
        const long status = StatusOf(handle_);
        if (status != 200 && status != 206) {
            // The held bytes reach past the server's file: they belong to another one.
            if (status == 416 && have_ > 0) sink_.DropResumePoint(target_);
            failure_ = ResultFromStatus(status);
            return false;
        }
        const std::string contentRange = headers_.Value("Content-Range");
        // A part that does not continue the held bytes would corrupt the file.
        if (status == 206 && have_ > 0 && !RangeStartsAt(contentRange, have_)) {
            failure_ = rc::kFailed;
            return false;
        }
        // The file changed size on the server since the held bytes came: they are the
        // start of another file. Start over on the next request.
        if (status == 206 && have_ > 0 && RangeOfAnotherSize(contentRange, total_)) {
            sink_.DropResumePoint(target_);
            failure_ = rc::kFailed;
            return false;
        }
        // A 200 carries the whole body even when part of it was asked for: start over
        // rather than append the body after its own beginning.
        if (status == 200 && (have_ > 0 || total_ > 0)) sink_.DropResumePoint(target_);
        curl_off_t length = -1;
        curl_easy_getinfo(handle_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        contentLength_ = std::max<curl_off_t>(length, 0);
        sink_.BeginBody(target_, contentLength_);
        begun_ = true;
        sink_.StartTiming();
        return true;
    }

    bool Deliver() {
        // A stopped transfer drops the chunk in hand: it is never written.
        if (sink_.IsCancelled() || !sink_.CanContinue()) {
            sinkStopped_ = true;
            return false;
        }
        sink_.WriteBody(chunk_.data(), chunk_.size());
        received_ += static_cast<int64_t>(chunk_.size());
        sink_.ReportProgress(static_cast<int>(chunk_.size()),
                             static_cast<int>(contentLength_ - received_));
        chunk_.clear();
        std::this_thread::sleep_for(kChunkPause);
        return true;
    }

    int End() {
        if (begun_) sink_.EndBody(target_);
        return rc::kOk;
    }

    int Abort(int result) {
        if (begun_) sink_.AbortBody(target_);
        return result;
    }

    CURL* handle_;
    CMyHTTP& sink_;
    std::string& target_;
    int64_t have_;
    int64_t total_;
    const AnswerHeaders& headers_;
    std::string chunk_;
    int64_t contentLength_ = 0;
    int64_t received_ = 0;
    bool begun_ = false;
    bool sinkStopped_ = false;
    int failure_ = 0;
};

int FlagsResult(CMyHTTP& sink, int result) {
    if (sink.IsCancelled()) result = rc::kCancelled;
    if (!sink.CanContinue()) result = rc::kSinkStopped;
    return result;
}

// Runs a POST into `sink`. `reachedEnd`: the body was taken to its end or stopped by
// the sink's flags, so the caller's flag rule decides the result.
int PostToSink(CMyHTTP& sink, RequestPlan& plan, std::string& target, bool ranged,
               bool& reachedEnd) {
    reachedEnd = false;
    int64_t have = 0;
    int64_t total = 0;
    sink.GetResumePoint(target, have, total);
    if (total != 0 && total == have) return rc::kOk;
    if (ranged && have > 0) plan.Headers.push_back("Range: bytes=" + std::to_string(have) + "-");

    CurlEasy handle = NewCurlEasy();
    if (!handle) return rc::kFailed;
    plan.UseSystemProxy = sink.UseSystemProxy();
    plan.Proxy = sink.Proxy();
    StallWatch watch(plan.TimeoutMs, [&sink] { return sink.IsCancelled() || !sink.CanContinue(); });
    AnswerHeaders headers(watch);
    SinkReceiver receiver(handle.get(), sink, target, have, total, headers);
    const Outcome outcome = Perform(handle.get(), plan, receiver, headers, watch);
    int result = receiver.Finish(outcome);
    // Through a set proxy every connection is the proxy's.
    if (result == rc::kCannotConnect && plan.UseSystemProxy && plan.Proxy &&
        !plan.Proxy->Address.empty()) {
        result = rc::kProxyRefused;
    }
    reachedEnd = result == rc::kOk;
    return result;
}

}  // namespace

int HttpGetText(const std::string& user, const std::string& password, const std::string& url,
                int timeoutMs, std::string& out) {
    CurlEasy handle = NewCurlEasy();
    if (!handle) return rc::kFailed;
    // Devices only: a proxy would be handed their passwords and cannot reach their LAN.
    RequestPlan plan{user, password, url, timeoutMs, false, false, {}, {}};
    StallWatch watch(timeoutMs);
    AnswerHeaders headers(watch);
    TextReceiver receiver(handle.get());
    const Outcome outcome = Perform(handle.get(), plan, receiver, headers, watch);
    if (receiver.Failure() != 0) return receiver.Failure();
    // Stopping at 102400 bytes is the intended cut, not a failure.
    if (outcome.Code != CURLE_OK && !(receiver.Cut() && outcome.Code == CURLE_WRITE_ERROR)) {
        return ResultFromCurl(outcome.Code, outcome.Stalled, false);
    }
    if (!receiver.Checked() && !receiver.CheckStatus()) return receiver.Failure();
    const std::string& body = receiver.Body();
    out = body.substr(0, body.find('\0'));
    return rc::kOk;
}

int HttpFetch(CMyHTTP& sink, const std::string& user, const std::string& password,
              const std::string& url, int timeoutMs, std::string& target) {
    // No body; libcurl would otherwise label the empty POST as a form.
    RequestPlan plan{user, password, url, timeoutMs, false, true, {}, {"Content-Type:"}};
    bool reachedEnd = false;
    const int result = PostToSink(sink, plan, target, true, reachedEnd);
    return reachedEnd ? FlagsResult(sink, result) : result;
}

int HttpPostForm(CMyHTTP& sink, const std::string& user, const std::string& password,
                 const std::string& url, const std::string& form, int timeoutMs,
                 std::string& target) {
    RequestPlan plan{user,  password, url,  timeoutMs,
                     false, true,     form, {"Content-Type: application/x-www-form-urlencoded"}};
    bool reachedEnd = false;
    return FlagsResult(sink, PostToSink(sink, plan, target, false, reachedEnd));
}
