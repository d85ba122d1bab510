#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/http_sink.h"

// Collects a body in memory and hands it to the target string as text. Connects
// directly, without a proxy; never cancels and never resumes.
class CHTTPBase : public CMyHTTP {
public:
    bool UseSystemProxy() override { return false; }
    void BeginBody(std::string& target, int64_t contentLength) override;
    void WriteBody(const char* data, size_t count) override;
    // Joins the chunks in arrival order into `target`, up to the first zero byte.
    void EndBody(std::string& target) override;
    void ReportProgress(int, int) override {}
    void GetResumePoint(const std::string& target, int64_t& have, int64_t& total) override;
    bool IsCancelled() override { return false; }
    bool CanContinue() override { return true; }
    bool StartTiming() override { return false; }
    void DropResumePoint(const std::string&) override {}
    void AbortBody(const std::string& target) override;

private:
    std::vector<std::string> chunks_;
    uint32_t total_ = 0;
};
