#pragma once

#include <cstdint>
#include <string>

// Helpers of the firmware benchmarks: large image files written in blocks. Their scratch
// folders are the tests' TempDir (under $TMPDIR or /tmp, removed afterwards).

// Writes `bytes` bytes of varied content to `path`, after the 4-byte size header when
// `withHeader`. Returns the MD5 text of the bytes (header excluded), or "" on failure.
std::string WriteImage(const std::string& path, int64_t bytes, bool withHeader);

// Peak resident set of this process so far, in KiB.
long PeakRssKiB();
