#include "base/xs_duration.h"

#include <cctype>

namespace {

constexpr int64_t kSecondMs = 1000;
constexpr int64_t kMinuteMs = 60 * kSecondMs;
constexpr int64_t kHourMs = 60 * kMinuteMs;
constexpr int64_t kDayMs = 24 * kHourMs;

struct Unit {
    char Letter;
    int64_t Ms;
};

// Adds `count` units to `total`; false once the sum passes `limit`.
bool AddUnits(int64_t count, int64_t unitMs, int64_t limit, int64_t& total) {
    if (count > (limit - total) / unitMs) return false;
    total += count * unitMs;
    return true;
}

}  // namespace

std::optional<int64_t> ParseXsDuration(std::string_view text, int64_t limitMs) {
    if (text.size() < 3 || text.front() != 'P' || limitMs < 0) return std::nullopt;
    static constexpr Unit kDateUnits[] = {{'Y', 365 * kDayMs}, {'M', 30 * kDayMs}, {'D', kDayMs}};
    static constexpr Unit kTimeUnits[] = {{'H', kHourMs}, {'M', kMinuteMs}, {'S', kSecondMs}};
    int64_t total = 0;
    size_t at = 1;
    bool inTime = false;
    bool anyNumber = false;
    size_t nextUnit = 0;  // units must come in order, each at most once
    while (at < text.size()) {
        if (text[at] == 'T') {
            if (inTime || at + 1 == text.size()) return std::nullopt;
            inTime = true;
            nextUnit = 0;
            ++at;
            continue;
        }
        int64_t count = 0;
        size_t digits = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            if (count > (INT64_MAX - 9) / 10) return std::nullopt;
            count = count * 10 + (text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || at == text.size()) return std::nullopt;
        int64_t fractionMs = 0;
        if (text[at] == '.') {
            // Only seconds take a fraction; milliseconds are kept, finer digits dropped.
            if (!inTime) return std::nullopt;
            ++at;
            size_t fractionDigits = 0;
            int64_t scale = 100;
            while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
                fractionMs += (text[at++] - '0') * scale;
                scale /= 10;
                ++fractionDigits;
            }
            if (fractionDigits == 0 || at == text.size() || text[at] != 'S') return std::nullopt;
        }
        const auto& units = inTime ? kTimeUnits : kDateUnits;
        size_t unit = nextUnit;
        while (unit < 3 && units[unit].Letter != text[at]) ++unit;
        if (unit == 3) return std::nullopt;
        if (!AddUnits(count, units[unit].Ms, limitMs, total)) return std::nullopt;
        if (fractionMs > limitMs - total) return std::nullopt;
        total += fractionMs;
        nextUnit = unit + 1;
        anyNumber = true;
        ++at;
    }
    if (!anyNumber) return std::nullopt;
    return total;
}
