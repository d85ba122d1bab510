#include "web/http_base.h"

#include "base/result_codes.h"
#include "web/web_client.h"

void CHTTPBase::BeginBody(std::string&, int64_t) {
    chunks_.clear();
    total_ = 0;
    tooLarge_ = false;
}

void CHTTPBase::WriteBody(const char* data, size_t count) {
    if (tooLarge_) return;
    if (count > limit_ - total_) {
        tooLarge_ = true;
        chunks_.clear();
        total_ = 0;
        return;
    }
    chunks_.emplace_back(data, count);
    total_ += count;
}

void CHTTPBase::EndBody(std::string& target) {
    if (tooLarge_) return;
    std::string body;
    body.reserve(total_);
    for (const std::string& chunk : chunks_) body += chunk;
    // The body is read as a zero-terminated text.
    body.resize(body.find('\0') == std::string::npos ? body.size() : body.find('\0'));
    target = std::move(body);
    chunks_.clear();
}

void CHTTPBase::GetResumePoint(const std::string&, int64_t& have, int64_t& total) {
    have = 0;
    total = 0;
}

void CHTTPBase::AbortBody(const std::string&) {
    chunks_.clear();
    total_ = 0;
}

int FetchText(CHTTPBase& sink, const std::string& user, const std::string& password,
              const std::string& url, int timeoutMs, std::string& text) {
    const int result = HttpFetch(sink, user, password, url, timeoutMs, text);
    return sink.TooLarge() ? rc::kAnswerTooLarge : result;
}
