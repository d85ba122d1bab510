// A layout text file (UTF-8 with or without byte-order mark, or UTF-16LE), which a
// user or a translator may have edited: lookups, the value cut to its limit, and the
// control style read from a value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "base/utf16.h"
#include "fuzz_check.h"
#include "layout/control_style.h"
#include "layout/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(32);
    const std::string key = in.ConsumeRandomLengthString(32);
    const int fontChoice = in.ConsumeIntegralInRange(0, 3);
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    const bool utf16 = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';

    // Also the file with the asked-for key appended in a section of its own.
    for (const std::string& text : {bytes, bytes + "\n[" + section + "]\n" + key + "=x\n"}) {
        const CProfileText profile = CProfileText::Parse(text);
        const std::optional<std::string> raw = profile.Find(section, key);
        if (!raw) continue;
        if (utf16) FUZZ_CHECK(IsValidUtf8(*raw));
        const std::string value = ProfileValue(*raw);
        FUZZ_CHECK(Utf16Length(value) <= kProfileTextLimit);
        ControlStyle style;
        ParseControlStyle(value, fontChoice, style);
    }
    return 0;
}
