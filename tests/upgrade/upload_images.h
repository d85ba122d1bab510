#pragma once

#include <cstddef>
#include <string>

#include "support/web_test_support.h"

// An image as Browse accepts it: the mark "QRBA", the version tag devsim reads (when
// given), then pattern bytes up to `size` bytes in all.
inline std::string MarkedImage(size_t size, const std::string& version = {}) {
    std::string image = "QRBA" + (version.empty() ? std::string() : "version=" + version + "\n");
    image += PatternBytes(size > image.size() ? size - image.size() : 0);
    return image.substr(0, size);
}

// The same image as the firmware store keeps it: behind its 4-byte size header.
inline std::string StoredImage(const std::string& image) {
    return SizeHeader(static_cast<uint32_t>(image.size())) + image;
}
