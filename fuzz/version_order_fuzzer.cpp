// Decimal parsing and the dispatch's firmware version comparison, on texts a device or
// the catalogue supplies: the comparison must be a strict order (irreflexive,
// antisymmetric, transitive) and numbers must never wrap.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/text.h"
#include "device/firmware_version.h"
#include "fuzz_check.h"

namespace {

// The exact value of the leading decimal number, computed digit by digit in 128 bits and
// clamped; what ParseDecimal must agree with.
int64_t Reference(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\r\n\v\f");
    if (i == std::string::npos) return 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    __int128 value = 0;
    const __int128 cap = static_cast<__int128>(std::numeric_limits<int64_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > cap) value = cap;
    }
    if (negative)
        return value >= cap ? std::numeric_limits<int64_t>::min() : static_cast<int64_t>(-value);
    return value >= cap ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string a = in.ConsumeRandomLengthString(64);
    const std::string b = in.ConsumeRandomLengthString(64);
    const std::string c = in.ConsumeRemainingBytesAsString();

    for (const std::string* text : {&a, &b, &c})
        FUZZ_CHECK(ParseDecimal(*text) == Reference(*text));

    FUZZ_CHECK(!IsNewerFirmware(a, a));
    FUZZ_CHECK(!(IsNewerFirmware(a, b) && IsNewerFirmware(b, a)));
    if (IsNewerFirmware(a, b) && IsNewerFirmware(b, c)) FUZZ_CHECK(IsNewerFirmware(a, c));
    // Equal numbers: neither is newer, whatever the texts.
    if (FirmwareVersionNumber(a) == FirmwareVersionNumber(b))
        FUZZ_CHECK(!IsNewerFirmware(a, b) && !IsNewerFirmware(b, a));
    return 0;
}
