#include "base/time_of_day.h"

#include <ctime>
#include <string>

std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3) {
        return std::nullopt;
    }
    int parts[2] = {0, 0};
    const std::string_view pieces[2] = {text.substr(0, colon), text.substr(colon + 1)};
    for (int i = 0; i < 2; ++i) {
        for (char c : pieces[i]) {
            if (c < '0' || c > '9') return std::nullopt;
            parts[i] = parts[i] * 10 + (c - '0');
        }
    }
    if (parts[0] > 23 || parts[1] > 59) return std::nullopt;
    return TimeOfDay{parts[0], parts[1]};
}

int64_t NextTimeOfDay(int64_t after, TimeOfDay time) {
    const auto start = static_cast<std::time_t>(after);
    std::tm day{};
    if (!localtime_r(&start, &day)) return after;
    for (int days = 0; days < 2; ++days) {
        std::tm moment = day;
        moment.tm_mday += days;
        moment.tm_hour = time.Hour;
        moment.tm_min = time.Minute;
        moment.tm_sec = 0;
        moment.tm_isdst = -1;
        const std::time_t at = std::mktime(&moment);
        if (at != static_cast<std::time_t>(-1) && at >= start) return static_cast<int64_t>(at);
    }
    // A day has 24 hours but around a clock change: tomorrow's moment is past `after`.
    return after + 24 * 3600;
}

std::string HourMinuteText(int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::string();
    char text[8];
    return std::string(text, std::strftime(text, sizeof text, "%H:%M", &tm));
}
