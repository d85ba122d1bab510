#include "base/terminal_text.h"

#include <langinfo.h>
#include <locale.h>
#include <wchar.h>

#include <cstring>
#include <utility>

#include "base/utf16.h"

namespace {

constexpr char32_t kEscape = 0x1B;
constexpr char32_t kBell = 0x07;
constexpr char32_t kStringEnd = 0x9C;                                      // ST
constexpr char32_t kControlSequence = 0x9B;                                // CSI
constexpr const char* kEllipsis = "\xE2\x80\xA6";                          // U+2026
constexpr char32_t kStringIntroducers[] = {0x90, 0x98, 0x9D, 0x9E, 0x9F};  // DCS SOS OSC PM APC

bool IsLineBreak(char32_t c) {
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x85 ||
           c == 0x2028 || c == 0x2029;
}

bool In(char32_t c, char32_t first, char32_t last) { return c >= first && c <= last; }

// The end of a control sequence's parameters and final byte (ECMA-48 5.4), from `pos`.
size_t SkipControlSequence(std::string_view text, size_t pos) {
    while (pos < text.size()) {
        size_t next = pos;
        const char32_t c = NextCodePoint(text, next);
        if (In(c, 0x20, 0x3F)) {
            pos = next;
        } else {
            return In(c, 0x40, 0x7E) ? next : pos;
        }
    }
    return pos;
}

// The end of a command string (OSC, DCS, ...): its terminator BEL, ST or ESC \, or the
// end of the text, since a terminal swallows everything up to the terminator.
size_t SkipCommandString(std::string_view text, size_t pos) {
    while (pos < text.size()) {
        const char32_t c = NextCodePoint(text, pos);
        if (c == kBell || c == kStringEnd) return pos;
        if (c == kEscape && pos < text.size() && text[pos] == '\\') return pos + 1;
    }
    return pos;
}

// The end of the sequence whose introducer `c` ended at `pos`; `pos` when `c` introduces
// none.
size_t SkipSequence(std::string_view text, size_t pos, char32_t c) {
    if (c == kControlSequence) return SkipControlSequence(text, pos);
    for (char32_t introducer : kStringIntroducers) {
        if (c == introducer) return SkipCommandString(text, pos);
    }
    if (c != kEscape || pos >= text.size()) return pos;
    size_t next = pos;
    const char32_t after = NextCodePoint(text, next);
    if (after == '[') return SkipControlSequence(text, next);
    if (after == ']' || after == 'P' || after == 'X' || after == '^' || after == '_') {
        return SkipCommandString(text, next);
    }
    // ESC, intermediate bytes, one final byte (ECMA-35): "ESC ( B", "ESC c", "ESC 7".
    for (size_t end = pos; end < text.size();) {
        const char32_t d = NextCodePoint(text, end);
        if (In(d, 0x30, 0x7E)) return end;
        if (!In(d, 0x20, 0x2F)) break;
    }
    return pos;  // no final byte: the ESC alone goes
}

// The C library's widths under a UTF-8 character type for the life of the object, on this
// thread only (the user's locale may be "C", which knows no wide characters).
class WidthMeter {
public:
    WidthMeter() : locale_(Utf8Ctype()) {
        if (locale_) previous_ = ::uselocale(locale_);
    }
    ~WidthMeter() {
        if (locale_) ::uselocale(previous_);
    }
    WidthMeter(const WidthMeter&) = delete;
    WidthMeter& operator=(const WidthMeter&) = delete;

    int operator()(char32_t c) const {
        if (!locale_) return EstimatedColumns(c);
        const int width = ::wcwidth(static_cast<wchar_t>(c));
        // Unassigned characters: terminals give them one column.
        return width < 0 ? 1 : width;
    }

private:
    static locale_t Utf8Ctype() {
        static const locale_t utf8 = [] {
            for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
                const locale_t l = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
                if (l && std::strcmp(::nl_langinfo_l(CODESET, l), "UTF-8") == 0) return l;
                if (l) ::freelocale(l);
            }
            return static_cast<locale_t>(0);
        }();
        return utf8;
    }

    const locale_t locale_;
    locale_t previous_ = static_cast<locale_t>(0);
};

}  // namespace

bool IsHiddenCharacter(char32_t c) {
    return c < 0x20 || In(c, 0x7F, 0x9F) || c == 0x061C || c == 0x180E || In(c, 0x200B, 0x200F) ||
           In(c, 0x2028, 0x202E) || In(c, 0x2060, 0x206F) || c == 0xFEFF || In(c, 0xFFF9, 0xFFFB) ||
           In(c, 0xE0000, 0xE007F);
}

std::string Printable(std::string_view raw) {
    const std::string text = ToValidUtf8(raw);
    std::string out;
    out.reserve(text.size());
    bool inBreak = false;
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        const char32_t c = NextCodePoint(text, pos);
        if (IsLineBreak(c)) {
            if (!inBreak) out += ' ';
            inBreak = true;
            continue;
        }
        inBreak = false;
        if (IsHiddenCharacter(c)) {
            pos = SkipSequence(text, pos, c);
            continue;
        }
        out.append(text, start, pos - start);
    }
    return out;
}

int EstimatedColumns(char32_t c) {
    if (In(c, 0x0300, 0x036F) || In(c, 0x1AB0, 0x1AFF) || In(c, 0x20D0, 0x20FF) ||
        In(c, 0xFE00, 0xFE0F) || In(c, 0xFE20, 0xFE2F)) {
        return 0;
    }
    static constexpr std::pair<char32_t, char32_t> kWide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},  {0x3041, 0x33FF}, {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},  {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},  {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};
    for (const auto& [first, last] : kWide) {
        if (In(c, first, last)) return 2;
    }
    return 1;
}

int CharColumns(char32_t c) { return WidthMeter()(c); }

int TextColumns(std::string_view text) {
    const WidthMeter width;
    int columns = 0;
    for (size_t pos = 0; pos < text.size();) columns += width(NextCodePoint(text, pos));
    return columns;
}

std::string FitColumns(std::string_view text, int columns) {
    if (columns <= 0) return {};
    if (TextColumns(text) <= columns) return std::string(text);
    const WidthMeter width;
    // One column stays for the ellipsis.
    int used = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t next = pos;
        used += width(NextCodePoint(text, next));
        if (used > columns - 1) break;
        pos = next;
    }
    return std::string(text.substr(0, pos)) + kEllipsis;
}

std::string PadColumns(std::string_view text, int columns) {
    std::string fitted = FitColumns(text, columns);
    const int used = TextColumns(fitted);
    if (used < columns) fitted.append(static_cast<size_t>(columns - used), ' ');
    return fitted;
}
