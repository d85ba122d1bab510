#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Small text helpers shared by the core. Texts are UTF-8; the case-insensitive
// helpers fold ASCII letters only, which is all the device protocols use.

std::string Trim(std::string_view text);
std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view haystack, std::string_view needle);
bool StartsWith(std::string_view text, std::string_view prefix);

// Splits at any of `separators`; empty pieces are skipped.
std::vector<std::string> SplitAny(std::string_view text, std::string_view separators);

// Reads a decimal number the way the C library's string-to-integer conversion does:
// leading blanks, an optional sign, then digits; text without leading digits is 0.
// Values beyond the 64-bit range saturate.
int64_t ParseDecimal(std::string_view text);

// True for a value ParseDecimal may have saturated to: the text's number did not fit, so
// callers that need the exact number treat it as invalid.
bool IsSaturatedDecimal(int64_t value);

// The text that follows the first `marker` up to (not including) the next line feed,
// or to the end when no line feed follows. Empty and false when the marker is absent.
bool ValueAfterMarker(std::string_view text, std::string_view marker, std::string& value);

// `text` with every `from` replaced by `to` (a text a translator wrote may hold a
// placeholder any number of times, so it is not given to printf).
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

// printf-style formatting into a std::string.
std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The local date and time of `seconds` since 1970, as "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText(int64_t seconds);
