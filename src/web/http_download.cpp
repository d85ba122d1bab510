#include "web/http_download.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace {

int64_t TickMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::array<unsigned char, 4> SizeHeader(int64_t size) {
    const auto value = static_cast<uint32_t>(size);
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

}  // namespace

CHTTPDownload::CHTTPDownload(DownloadItemBase& item, std::string label, int64_t laterBytes,
                             int64_t batchTotal)
    : item_(item), label_(std::move(label)), estimator_(laterBytes, batchTotal) {}

CHTTPDownload::~CHTTPDownload() { CloseFile(); }

void CHTTPDownload::BeginBody(std::string& path, int64_t contentLength) {
    CloseFile();
    writeFailed_ = false;
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        file_ = std::fopen(path.c_str(), "ab");
    } else {
        file_ = std::fopen(path.c_str(), "wb");
        const auto header = SizeHeader(contentLength);
        if (file_ && std::fwrite(header.data(), 1, header.size(), file_) != header.size()) {
            writeFailed_ = true;
        }
    }
    if (!file_) writeFailed_ = true;
}

void CHTTPDownload::WriteBody(const char* data, size_t count) {
    if (!file_ || writeFailed_) return;
    if (std::fwrite(data, 1, count, file_) != count) writeFailed_ = true;
}

void CHTTPDownload::EndBody(std::string&) { CloseFile(); }

void CHTTPDownload::AbortBody(const std::string&) { CloseFile(); }

void CHTTPDownload::CloseFile() {
    if (!file_) return;
    if (std::fclose(file_) != 0) writeFailed_ = true;
    file_ = nullptr;
}

void CHTTPDownload::GetResumePoint(const std::string& path, int64_t& have, int64_t& total) {
    have = 0;
    total = 0;
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) return;
    if (size >= 4) {
        std::array<unsigned char, 4> header{};
        if (FILE* in = std::fopen(path.c_str(), "rb")) {
            const size_t got = std::fread(header.data(), 1, header.size(), in);
            std::fclose(in);
            const int64_t held = static_cast<int64_t>(header[0]) | header[1] << 8 |
                                 header[2] << 16 | static_cast<int64_t>(header[3]) << 24;
            if (got == header.size() && static_cast<int64_t>(size - 4) < held) {
                have = static_cast<int64_t>(size - 4);
                total = held;
                return;
            }
        }
    }
    std::filesystem::remove(path, error);
}

void CHTTPDownload::DropResumePoint(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
}

bool CHTTPDownload::StartTiming() {
    estimator_.Start(TickMs());
    return true;
}

void CHTTPDownload::ReportProgress(int received, int remaining) {
    int secondsLeft = 0;
    int percent = 0;
    if (!estimator_.Add(received, remaining, TickMs(), secondsLeft, percent)) return;
    if (!item_.Progress) return;
    item_.Progress->OnDownloadProgress(
        {label_, item_.Model, item_.HWVer, item_.FWVer, item_.LocalPath, secondsLeft, percent, 0});
}
