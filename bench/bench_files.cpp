#include "bench_files.h"

#include <openssl/evp.h>
#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

std::string WriteImage(const std::string& path, int64_t bytes, bool withHeader) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return "";
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md5(EVP_MD_CTX_new(),
                                                                      &EVP_MD_CTX_free);
    EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr);
    bool ok = true;
    if (withHeader) {
        const auto size = static_cast<uint32_t>(bytes);
        const unsigned char header[4] = {
            static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
            static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
        ok = std::fwrite(header, 1, 4, file) == 4;
    }
    std::vector<uint64_t> block(1 << 17);  // 1 MiB
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (int64_t left = bytes; ok && left > 0;) {
        for (uint64_t& word : block) {  // xorshift: cheap, and not compressible
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const size_t count = static_cast<size_t>(std::min<int64_t>(left, 1 << 20));
        ok = std::fwrite(block.data(), 1, count, file) == count;
        EVP_DigestUpdate(md5.get(), block.data(), count);
        left -= static_cast<int64_t>(count);
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) return "";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(md5.get(), digest, &length);
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        text += hex;
    }
    return text;
}

long PeakRssKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
