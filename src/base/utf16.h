#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Measures and conversions between the core's UTF-8 texts and the UTF-16 code units in
// which stored limits (settings values, layout texts) are counted.

// True when `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// `text` with every byte that is not part of a well-formed sequence replaced by U+FFFD,
// so that readers of the files and lines we write never meet malformed UTF-8.
std::string ToValidUtf8(std::string_view text);

// The character at `pos` of `text`, moving `pos` past it; a byte that is not part of a
// well-formed sequence is U+FFFD (and `pos` moves one byte).
char32_t NextCodePoint(std::string_view text, size_t& pos);

// Appends the UTF-8 form of `cp` (a Unicode scalar value).
void AppendUtf8(std::string& out, char32_t cp);

// The number of UTF-16 code units `text` takes; a byte that is not part of a
// well-formed sequence counts as one unit.
size_t Utf16Length(std::string_view text);

// The longest prefix of `text` that takes at most `units` UTF-16 code units. A
// character is never split, not even a pair of surrogates.
std::string_view TruncateToUtf16Units(std::string_view text, size_t units);

// Converts UTF-16LE bytes (without byte-order mark) to UTF-8. An unpaired surrogate
// becomes U+FFFD; an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes);
