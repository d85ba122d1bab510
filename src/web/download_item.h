#pragma once

#include <atomic>
#include <string>

// What a file download (CHTTPDownload) reads from the download item it serves, and
// where it sends its progress. The download manager owns the items: its own item type
// derives from DownloadItemBase (adding the URL, the checksum and the size) and keeps
// each item in place until the download that serves it has returned.

// One progress report of a running download; `State` 0 means "in progress".
struct DownloadProgress {
    std::string Label;  // the download's label (the series being downloaded)
    std::string Model;
    std::string HWVer;
    std::string FWVer;
    std::string LocalPath;
    int SecondsLeft = 0;
    int Percent = 0;
    int State = 0;
};

// Receives the reports; called on the download's own thread, at most about once a
// second per download.
class IDownloadProgressReceiver {
public:
    virtual ~IDownloadProgressReceiver() = default;
    virtual void OnDownloadProgress(const DownloadProgress& progress) = 0;
};

struct DownloadItemBase {
    DownloadItemBase() = default;
    // Copies take the flags' current values, so items can be built up in containers
    // before any download starts.
    DownloadItemBase(const DownloadItemBase& other);
    DownloadItemBase& operator=(const DownloadItemBase& other);

    // The four texts every progress report carries.
    std::string Model;
    std::string HWVer;
    std::string FWVer;
    std::string LocalPath;
    // Set from any thread to stop the download; it ends after the current chunk (-6).
    std::atomic<bool> Cancelled{false};
    // Cleared from any thread when the download must not go on, for example when free
    // disk space runs out; it ends after the current chunk (-9).
    std::atomic<bool> SpaceOK{true};
    // Where progress goes; none: progress is not reported.
    IDownloadProgressReceiver* Progress = nullptr;
};
