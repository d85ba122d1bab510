#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// An XML Schema duration ("PT30S", "PT2M", "P1DT2H", "PT1.5S") in milliseconds. Strict:
// the letters in their order, each at most once, at least one number, "T" only before
// a time part, a fraction on the seconds only; a year counts 365 days and a month 30.
// Nothing for a negative duration, a malformed text, or one beyond `limitMs`.
std::optional<int64_t> ParseXsDuration(std::string_view text, int64_t limitMs);
