#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/text.h"  // LocalTimeText

// The planned time of a schedule entry as the command line takes it: seconds since
// 1970 ("1767225600"), seconds from `now` ("+90"), or a local date and time
// ("2026-01-01 03:00", "2026-01-01T03:00:30"). Nothing for any other text, including
// dates that do not exist (February 30th, 25:00).
std::optional<int64_t> ParseUpgradeTime(const std::string& text, int64_t now);
