#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "web/download_item.h"
#include "web/download_progress.h"
#include "web/http_sink.h"

// Writes a body to a file that starts with a 4-byte little-endian header holding the
// full body size, so an interrupted download resumes where it stopped. Honours the
// proxy environment variables, stops when its item asks, and reports the progress of
// the batch it belongs to.
//
// File: bytes 0-3 the full body size (Content-Length of the first, un-ranged answer),
// then the body bytes in the order received; a finished file is 4 + size bytes long.
class CHTTPDownload : public CMyHTTP {
public:
    // `item` must outlive the sink. `laterBytes`: summed sizes of the batch's items
    // after this one; `batchTotal`: summed sizes of the whole batch.
    CHTTPDownload(DownloadItemBase& item, std::string label, int64_t laterBytes,
                  int64_t batchTotal);
    ~CHTTPDownload() override;
    CHTTPDownload(const CHTTPDownload&) = delete;
    CHTTPDownload& operator=(const CHTTPDownload&) = delete;

    bool UseSystemProxy() override { return true; }
    const ServerProxy* Proxy() override { return &proxy_; }
    void SetProxy(ServerProxy proxy) { proxy_ = std::move(proxy); }
    // Appends to an existing file; a new file gets `contentLength` as its header.
    void BeginBody(std::string& path, int64_t contentLength) override;
    void WriteBody(const char* data, size_t count) override;
    void EndBody(std::string& path) override;
    void ReportProgress(int received, int remaining) override;
    // A partial file reports its body bytes and header size; a complete, over-long or
    // headerless file is deleted and the download starts afresh.
    void GetResumePoint(const std::string& path, int64_t& have, int64_t& total) override;
    bool IsCancelled() override { return item_.Cancelled.load(); }
    // False when the item says so or when the file could not be written: a failed
    // write must stop the download, or the file would miss bytes in its middle.
    bool CanContinue() override { return item_.SpaceOK.load() && !writeFailed_; }
    bool StartTiming() override;
    void DropResumePoint(const std::string& path) override;
    void AbortBody(const std::string& path) override;

private:
    void CloseFile();

    FILE* file_ = nullptr;
    DownloadItemBase& item_;
    std::string label_;
    DownloadProgressEstimator estimator_;
    bool writeFailed_ = false;
    ServerProxy proxy_;
};
