#include "app/cli/schedule_time_text.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "base/text.h"

namespace {

// A whole, non-negative decimal number; nothing for any other text or on overflow.
std::optional<int64_t> Count(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return {};
    return value;
}

std::optional<int64_t> LocalTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = 0;
    int used = 0;
    const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n:%2d%n", &year, &month,
                                   &day, &separator, &hour, &minute, &used, &second, &used);
    if (fields < 6 || (separator != ' ' && separator != 'T')) return {};
    if (static_cast<size_t>(used) != text.size()) return {};
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&tm);
    // mktime carries an out-of-range field into the next one; such a date does not exist.
    // The hour is not compared: a time inside a daylight-saving gap moves by the gap.
    if (seconds == static_cast<std::time_t>(-1) || tm.tm_year != year - 1900 ||
        tm.tm_mon != month - 1 || tm.tm_mday != day || tm.tm_min != minute || tm.tm_sec != second) {
        return {};
    }
    return static_cast<int64_t>(seconds);
}

}  // namespace

std::optional<int64_t> ParseUpgradeTime(const std::string& text, int64_t now) {
    if (StartsWith(text, "+")) {
        std::optional<int64_t> after = Count(text.substr(1));
        if (!after || *after > INT64_MAX - now) return {};
        return now + *after;
    }
    if (std::optional<int64_t> seconds = Count(text)) return seconds;
    return LocalTime(text);
}
