#include "firmware/image_copy.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "base/regular_file.h"
#include "firmware/store_download_sink.h"

namespace {

constexpr size_t kChunkBytes = 1 << 20;
constexpr int64_t kHeaderBytes = 4;

struct Fd {
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

std::string HexOf(const unsigned char* digest, unsigned int length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0f];
    }
    return text;
}

std::string SizeHeader(int64_t size) {
    const auto value = static_cast<uint32_t>(size);
    return {static_cast<char>(value & 0xff), static_cast<char>((value >> 8) & 0xff),
            static_cast<char>((value >> 16) & 0xff), static_cast<char>((value >> 24) & 0xff)};
}

CopyOutcome Failed(CopyFailure failure, int error = 0) {
    CopyOutcome outcome;
    outcome.Failure = failure;
    outcome.Error = error;
    return outcome;
}

void SyncFolder(const std::string& path) {
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

}  // namespace

int64_t ImageBytesOf(const std::string& path, bool hasHeader) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return hasHeader ? st.st_size - kHeaderBytes : st.st_size;
}

CopyOutcome CopyImage(const ImageCopy& copy, const CopyProgress& progress,
                      const std::function<bool()>& stopped) {
    const Fd in(OpenRegularFile(copy.From, O_RDONLY));
    if (in.fd < 0) {
        return errno == ENOENT ? Failed(CopyFailure::Missing)
                               : Failed(CopyFailure::ReadFailed, errno);
    }
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) return Failed(CopyFailure::ReadFailed, errno);
    const int64_t found = st.st_size - (copy.FromHasHeader ? kHeaderBytes : 0);
    // Cheap, and it spares hashing a truncated image.
    if (found != copy.Size) {
        CopyOutcome outcome = Failed(CopyFailure::WrongSize);
        outcome.FoundSize = found;
        return outcome;
    }
    if (copy.FromHasHeader && ::lseek(in.fd, kHeaderBytes, SEEK_SET) != kHeaderBytes) {
        return Failed(CopyFailure::ReadFailed, errno);
    }
    ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::string temp = copy.To + ".tmp." + std::to_string(::getpid()) + ".XXXXXX";
    const Fd out(::mkstemp(temp.data()));
    if (out.fd < 0) return Failed(CopyFailure::WriteFailed, errno);
    const auto fail = [&](CopyFailure failure, int error) {
        ::unlink(temp.c_str());
        return Failed(failure, error);
    };
    if (::fchmod(out.fd, 0644) != 0) return fail(CopyFailure::WriteFailed, errno);
    if (copy.ToHasHeader && !WriteAll(out.fd, SizeHeader(copy.Size))) {
        return fail(CopyFailure::WriteFailed, errno);
    }

    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
        return fail(CopyFailure::ReadFailed, ENOMEM);
    }
    std::vector<char> buffer(kChunkBytes);
    int64_t done = 0;
    for (;;) {
        if (stopped && stopped()) return fail(CopyFailure::Cancelled, 0);
        const ssize_t n = ::read(in.fd, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(CopyFailure::ReadFailed, errno);
        }
        const auto count = static_cast<size_t>(n);
        EVP_DigestUpdate(context.get(), buffer.data(), count);
        if (!WriteAll(out.fd, std::string_view(buffer.data(), count))) {
            return fail(CopyFailure::WriteFailed, errno);
        }
        done += n;
        if (progress) progress(done);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    // The file may have changed since its size was read: what counts is what was copied.
    if (done != copy.Size) {
        CopyOutcome outcome = fail(CopyFailure::WrongSize, 0);
        outcome.FoundSize = done;
        return outcome;
    }
    const std::string md5 = HexOf(digest, length);
    if (md5 != copy.Md5) {
        CopyOutcome outcome = fail(CopyFailure::WrongMd5, 0);
        outcome.FoundMd5 = md5;
        return outcome;
    }
    if (::fsync(out.fd) != 0 || ::rename(temp.c_str(), copy.To.c_str()) != 0) {
        return fail(CopyFailure::WriteFailed, errno);
    }
    SyncFolder(copy.To);
    return {};
}
