#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A time of day on the local clock, as a technician types it ("05:30"): the end of a
// maintenance window.
struct TimeOfDay {
    int Hour = 0;
    int Minute = 0;

    bool operator==(const TimeOfDay&) const = default;
};

// "HH:MM" (or "H:MM"), 00:00 to 23:59; nothing for any other text.
std::optional<TimeOfDay> ParseTimeOfDay(std::string_view text);

// The first moment at or after `after` (seconds since 1970) when the local clock shows
// `time`: today, or tomorrow once today's has passed. A time inside a daylight-saving
// gap moves by the gap.
int64_t NextTimeOfDay(int64_t after, TimeOfDay time);

// The local time of day of `seconds` since 1970 as "HH:MM".
std::string HourMinuteText(int64_t seconds);
