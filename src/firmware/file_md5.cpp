#include "firmware/file_md5.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <memory>
#include <vector>

#include "base/regular_file.h"

namespace {

constexpr size_t kReadBytes = 1 << 20;
constexpr off_t kHeaderBytes = 4;

struct OpenFile {
    explicit OpenFile(const std::string& path) : fd(OpenRegularFile(path, O_RDONLY)) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    const int fd;
};

// The digest of the file's bytes from `offset` on.
bool DigestFrom(const std::string& path, off_t offset, std::string& md5,
                const std::atomic<bool>* cancel) {
    md5.clear();
    const OpenFile file(path);
    const int fd = file.fd;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size < offset ||
        ::lseek(fd, offset, SEEK_SET) != offset) {
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return false;
    std::vector<unsigned char> buffer(kReadBytes);
    for (;;) {
        if (cancel && cancel->load()) return false;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n)) != 1) {
            return false;
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return false;
    static constexpr char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        md5 += kHex[digest[i] >> 4];
        md5 += kHex[digest[i] & 0x0f];
    }
    return true;
}

}  // namespace

bool ComputeFileMD5(const std::string& path, std::string& md5, const std::atomic<bool>* cancel) {
    return DigestFrom(path, kHeaderBytes, md5, cancel);
}

bool ComputeWholeFileMD5(const std::string& path, std::string& md5) {
    return DigestFrom(path, 0, md5, nullptr);
}
