#pragma once

#include <cstdint>
#include <string>

// Helpers of the firmware benchmarks: a scratch folder that is removed afterwards, and
// large image files written in blocks.

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Writes `bytes` bytes of varied content to `path`, after the 4-byte size header when
// `withHeader`. Returns the MD5 text of the bytes (header excluded), or "" on failure.
std::string WriteImage(const std::string& path, int64_t bytes, bool withHeader);

// Peak resident set of this process so far, in KiB.
long PeakRssKiB();
