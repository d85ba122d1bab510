#include "base/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <limits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string Trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string ToUpperAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), UpperAscii);
    return out;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                          [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
    return it != haystack.end() || needle.empty();
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> SplitAny(std::string_view text, std::string_view separators) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t next = text.find_first_of(separators, pos);
        if (next == std::string_view::npos) next = text.size();
        if (next > pos) parts.emplace_back(text.substr(pos, next - pos));
        pos = next + 1;
    }
    return parts;
}

int64_t ParseDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint64_t value = 0;
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        // Checked before the step: value * 10 + digit could wrap past 2^64 and look small.
        if (value > (limit - digit) / 10) {
            return negative ? std::numeric_limits<int64_t>::min()
                            : std::numeric_limits<int64_t>::max();
        }
        value = value * 10 + digit;
    }
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

bool IsSaturatedDecimal(int64_t value) {
    return value == std::numeric_limits<int64_t>::max() ||
           value == std::numeric_limits<int64_t>::min();
}

bool ValueAfterMarker(std::string_view text, std::string_view marker, std::string& value) {
    size_t at = text.find(marker);
    if (at == std::string_view::npos) {
        value.clear();
        return false;
    }
    size_t begin = at + marker.size();
    size_t end = text.find('\n', begin);
    value = std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    return true;
}

std::string StrFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<size_t>(needed));
    }
    va_end(args);
    return out;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string LocalTimeText(int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::to_string(seconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}
