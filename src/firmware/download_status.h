#pragma once

#include <string>

#include "device/upgrade_progress.h"

// The status kinds a download reports to the views (CFirmwareView::OnDownloadStatus).
namespace download_kind {
constexpr int kProgress = 0;      // a = seconds left, b = percent done
constexpr int kImageStored = 1;   // one image downloaded and its MD5 matched
constexpr int kFinished = 2;      // the job worked every image and all of them passed
constexpr int kStopped = 4;       // cancelled, removed from the queue, or an image failed
constexpr int kNetworkError = 8;  // the image will be tried again
constexpr int kNoSpace = 16;      // not enough free space; the image will be tried again
}  // namespace download_kind

// The progress text of a series row: "42% (01:02:05 left)", the time left worded by
// [DownloadPage] TimeLeft ("%s left") when a lookup is given.
std::string ProgressText(int secondsLeft, int percent, const TextLookup& lookup = DefaultText);

// Why an attempt at an image failed, from its result code (the web client's, or
// rc::kChecksumMismatch): [DownloadPage] texts, the command line's words by default.
std::string DownloadFailureText(int result, const TextLookup& lookup);
