#include "web/http_base.h"

void CHTTPBase::BeginBody(std::string&, int64_t) {
    chunks_.clear();
    total_ = 0;
}

void CHTTPBase::WriteBody(const char* data, size_t count) {
    chunks_.emplace_back(data, count);
    total_ += static_cast<uint32_t>(count);
}

void CHTTPBase::EndBody(std::string& target) {
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
