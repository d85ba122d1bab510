#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "web/download_item.h"

// One image to download into the store. The web client's file download reads the texts,
// the flags and the progress receiver of DownloadItemBase.
struct CDownloadItem : DownloadItemBase {
    std::string URL;
    std::string MD5;   // expected MD5 text of the image
    int64_t Size = 0;  // bytes of the image
};

// One series to download, image after image, by one worker. The items are only added
// while the job waits in the queue; a running job's items stay where they are.
struct CDownloadJob {
    std::string Series;
    std::vector<CDownloadItem> Items;
    std::atomic<bool> Cancelled{false};
    int64_t TotalBytes = 0;  // the series' total size when the job was made

    // Summed sizes of the items after `index`: what is still to come once it is done.
    int64_t BytesAfter(size_t index) const;
};
