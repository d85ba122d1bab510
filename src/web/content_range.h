#pragma once

#include <cstdint>
#include <string>

// Checks of a resumed download's Content-Range field ("bytes FIRST-LAST/TOTAL"), used by
// HttpFetch; the field comes from the server and may hold anything.

// True when the field, if any, starts at `offset`.
bool RangeStartsAt(const std::string& contentRange, int64_t offset);

// True when the field names a full size other than `total` ("*" and no field at all
// name none).
bool RangeOfAnotherSize(const std::string& contentRange, int64_t total);
