#include "firmware/store_download_sink.h"

#include <filesystem>
#include <system_error>

#include "base/saturating.h"

namespace {
constexpr int64_t kHeaderBytes = 4;
}

CStoreDownloadSink::CStoreDownloadSink(DownloadItemBase& item, std::string label,
                                       int64_t laterBytes, int64_t batchTotal,
                                       FreeSpaceProbe freeSpace)
    : CHTTPDownload(item, std::move(label), laterBytes, batchTotal),
      item_(item),
      freeSpace_(std::move(freeSpace)) {}

void CStoreDownloadSink::BeginBody(std::string& path, int64_t contentLength) {
    folder_ = FolderOf(path);
    std::error_code error;
    expected_ =
        SaturatingAdd(contentLength, std::filesystem::exists(path, error) ? 0 : kHeaderBytes);
    written_ = 0;
    CHTTPDownload::BeginBody(path, contentLength);
}

void CStoreDownloadSink::WriteBody(const char* data, size_t count) {
    const int64_t free = freeSpace_ ? freeSpace_(folder_) : -1;
    if (free >= 0 && free < SaturatingSubtract(expected_, written_)) {
        item_.SpaceOK = false;
        return;
    }
    CHTTPDownload::WriteBody(data, count);
    written_ += static_cast<int64_t>(count);
}

bool RoomForImage(const FreeSpaceProbe& freeSpace, const std::string& path, int64_t size) {
    if (!freeSpace) return true;
    const int64_t free = freeSpace(FolderOf(path));
    if (free < 0) return true;
    std::error_code error;
    const auto length = std::filesystem::file_size(path, error);
    // A partial file keeps its bytes; anything else is written afresh with its header.
    const int64_t held =
        !error && static_cast<int64_t>(length) >= kHeaderBytes ? static_cast<int64_t>(length) : 0;
    return free >= SaturatingSubtract(SaturatingAdd(size, kHeaderBytes), held);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
