#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Copies one firmware image between a carried folder (the bytes as the server serves
// them) and the store (the same bytes after the 4-byte size header of its downloads),
// hashing the bytes as they are written. The copy goes to a temporary file next to the
// target ("<target>.tmp.<pid>.XXXXXX", which RemoveStaleTemporaries clears after a
// crash) and replaces the target only when its size and MD5 are the ones expected, so
// the target is either left as it was or holds the whole, verified image.

struct ImageCopy {
    std::string From;
    bool FromHasHeader = false;
    std::string To;
    bool ToHasHeader = false;
    int64_t Size = 0;  // image bytes, without a header
    std::string Md5;   // expected MD5 text of the image bytes
};

// Why a copy did not replace its target.
enum class CopyFailure {
    None,
    Missing,      // `From` is not there
    WrongSize,    // `From` holds another number of image bytes
    WrongMd5,     // the bytes read differ from their MD5
    ReadFailed,   // `From` could not be read (errno kept in `Error`)
    WriteFailed,  // the temporary file could not be written or renamed (`Error`)
    Cancelled,
};

struct CopyOutcome {
    CopyFailure Failure = CopyFailure::None;
    int64_t FoundSize = 0;  // image bytes in `From` (WrongSize)
    std::string FoundMd5;   // WrongMd5
    int Error = 0;
};

// Called after each chunk with the image bytes copied so far.
using CopyProgress = std::function<void(int64_t bytesDone)>;

// `stopped`, asked between chunks, ends the copy (Cancelled).
CopyOutcome CopyImage(const ImageCopy& copy, const CopyProgress& progress = {},
                      const std::function<bool()>& stopped = {});

// The image bytes of the file at `path` (its length less the header when it has one);
// -1 when it is not a regular file.
int64_t ImageBytesOf(const std::string& path, bool hasHeader);
