#pragma once

#include <cstdint>
#include <limits>

// Byte counts from catalogues and servers are not trusted to be small: sums of them
// stick at the 64-bit limits instead of wrapping to a negative or tiny number.
inline int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

inline int64_t SaturatingSubtract(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}
