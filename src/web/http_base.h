#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/http_sink.h"

// Collects a body in memory and hands it to the target string as text. Connects
// directly, without a proxy; never cancels and never resumes. A body longer than the
// sink's limit stops the transfer (CanContinue turns false) and leaves the target as it
// was, so a peer that streams without end cannot exhaust memory.
class CHTTPBase : public CMyHTTP {
public:
    // Far beyond any device page or firmware catalogue.
    static constexpr size_t kDefaultLimit = 16 * 1024 * 1024;

    explicit CHTTPBase(size_t limit = kDefaultLimit) : limit_(limit) {}

    // The last body passed the limit.
    bool TooLarge() const { return tooLarge_; }

    bool UseSystemProxy() override { return false; }
    void BeginBody(std::string& target, int64_t contentLength) override;
    void WriteBody(const char* data, size_t count) override;
    // Joins the chunks in arrival order into `target`, up to the first zero byte.
    void EndBody(std::string& target) override;
    void ReportProgress(int, int) override {}
    void GetResumePoint(const std::string& target, int64_t& have, int64_t& total) override;
    bool IsCancelled() override { return false; }
    bool CanContinue() override { return !tooLarge_; }
    bool StartTiming() override { return false; }
    void DropResumePoint(const std::string&) override {}
    void AbortBody(const std::string& target) override;

private:
    size_t limit_;
    std::vector<std::string> chunks_;
    size_t total_ = 0;
    bool tooLarge_ = false;
};

// HttpFetch into `sink`, with rc::kAnswerTooLarge when the body passed the sink's limit.
int FetchText(CHTTPBase& sink, const std::string& user, const std::string& password,
              const std::string& url, int timeoutMs, std::string& text);
