#include "pipeline/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "base/regular_file.h"

ImageFile::~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ImageFile::Open(const std::string& path) {
    // A folder opens read-only too, but holds no image; a FIFO would block the open.
    fd_ = OpenRegularFile(path, O_RDONLY);
    if (fd_ < 0) return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    size_ = info.st_size;
    // Read once, front to back: a larger read-ahead keeps a slow disk or USB stick busy.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool ImageFile::HasStoreHeader() {
    if (size_ < static_cast<int64_t>(kStoreHeaderBytes) || !Seek(0)) return false;
    unsigned char header[kStoreHeaderBytes];
    const bool read = Read(reinterpret_cast<char*>(header), sizeof(header)) ==
                      static_cast<int64_t>(sizeof(header));
    Seek(0);
    if (!read) return false;
    const uint32_t stored =
        header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<uint32_t>(header[3]) << 24);
    return stored == size_ - static_cast<int64_t>(kStoreHeaderBytes);
}

bool ImageFile::Seek(int64_t offset) { return ::lseek(fd_, offset, SEEK_SET) == offset; }

int64_t ImageFile::Read(char* out, size_t max) {
    size_t total = 0;
    while (total < max) {
        const ssize_t got = ::read(fd_, out + total, max - total);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        total += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(total);
}

bool StartsWithImageMark(std::string_view bytes) {
    static constexpr std::string_view kMarks[] = {"QRBA", "QRBE", "QRBI", "QRBO", "QRBU"};
    return std::any_of(std::begin(kMarks), std::end(kMarks),
                       [&](std::string_view mark) { return bytes.substr(0, 4) == mark; });
}

bool IsFirmwareImage(const std::string& path) {
    ImageFile file;
    if (!file.Open(path)) return false;
    const int64_t start = file.HasStoreHeader() ? static_cast<int64_t>(kStoreHeaderBytes) : 0;
    char mark[4];
    return file.Seek(start) && file.Read(mark, sizeof(mark)) == sizeof(mark) &&
           StartsWithImageMark(std::string_view(mark, sizeof(mark)));
}
