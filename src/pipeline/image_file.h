#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Length of the size header the firmware store writes in front of each image it holds.
constexpr size_t kStoreHeaderBytes = 4;

// A firmware image opened for an upload: read-only (an image may sit on read-only
// media or carry read-only permissions), a regular file, read from front to back.
class ImageFile {
public:
    ImageFile() = default;
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    // False when `path` is not a regular file that can be read.
    bool Open(const std::string& path);

    int64_t FileSize() const { return size_; }

    // True when the file is an image kept in the firmware store: its first 4 bytes,
    // little-endian, hold the size of the rest. That header is the store's own
    // bookkeeping, not part of the image. Leaves the read position at the start.
    bool HasStoreHeader();

    // Moves the read position to `offset` from the start.
    bool Seek(int64_t offset);

    // Reads up to `max` bytes, fewer only at the end of the file; -1 on a read error.
    int64_t Read(char* out, size_t max);

private:
    int fd_ = -1;
    int64_t size_ = 0;
};

// True when `bytes` begins with one of the image marks "QRBA", "QRBE", "QRBI", "QRBO",
// "QRBU" that every firmware image starts with.
bool StartsWithImageMark(std::string_view bytes);

// True when the file holds a firmware image: it starts with its mark, or it is an image
// kept in the firmware store (the size header, then the mark).
bool IsFirmwareImage(const std::string& path);
