#pragma once

#include <cstdint>
#include <string>

#include "firmware/host_probes.h"
#include "web/http_download.h"

// The web client's file download, watching the storage folder's free space: before each
// chunk is written, the folder must still have room for the rest of the answer. When it
// has not, the chunk is not written and the item's SpaceOK is cleared, so the download
// stops (-9) with a file that holds a clean prefix of the image, to be resumed later.
class CStoreDownloadSink : public CHTTPDownload {
public:
    CStoreDownloadSink(DownloadItemBase& item, std::string label, int64_t laterBytes,
                       int64_t batchTotal, FreeSpaceProbe freeSpace);

    void BeginBody(std::string& path, int64_t contentLength) override;
    void WriteBody(const char* data, size_t count) override;

private:
    DownloadItemBase& item_;
    FreeSpaceProbe freeSpace_;
    std::string folder_;
    int64_t expected_ = 0;  // bytes of this answer, header included for a new file
    int64_t written_ = 0;
};

// Whether `folder` has room for what is still missing of an image of `size` bytes whose
// partial file is `path`. True when the free space cannot be told.
bool RoomForImage(const FreeSpaceProbe& freeSpace, const std::string& path, int64_t size);

// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& path);
