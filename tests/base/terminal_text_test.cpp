// Device texts on their way to a terminal: nothing in them acts on the terminal, and they
// are measured in the columns they take, not in characters or bytes.
#include <gtest/gtest.h>

#include <clocale>

#include "base/terminal_text.h"
#include "base/utf16.h"

namespace {

TEST(TerminalTextTest, PrintableRemovesWhatATerminalWouldActUpon) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\033]0;new title\007 b", "a b"},                      // window title, BEL ended
        {"a\033]8;;http://x\033\\link\033]8;;\033\\", "alink"},  // hyperlink, ST ended
        {"Yard\033[2J NVR", "Yard NVR"},                         // clear screen
        {"x\033[8mhidden\033[0m", "xhidden"},                    // hidden text shows
        {"\033[?1049h\033[1;1H", ""},                            // private modes, cursor
        {"a\033cb", "ab"},                                       // reset
        {"a\033(Bb", "ab"},                                      // character set
        {"a\033", "a"},                                          // cut sequence
        {"\u009b31mred", "red"},                                 // C1 CSI
        {"ok\u009d0;title", "ok"},                               // C1 OSC, never ended
        {"A\rB", "A B"},                                         // carriage return
        {"A\r\n\tB\n", "A B "},                                  // one blank per run
        {"A\u2028B", "A B"},                                     // line separator
        {"a\177\001\010z", "az"},                                // DEL, C0
        {"abc\u202efed", "abcfed"},                              // right-to-left override
        {"\u2066x\u2069\u200f", "x"},                            // isolate, mark
        {"p\u200ba\ufeffy", "pay"},                              // zero width, BOM
        {"t\U000E0041ag", "tag"},                                // tag character
        {"bad\xFF", "bad\uFFFD"},                                // broken UTF-8
        {"\u65e5\u672c e\u0301", "\u65e5\u672c e\u0301"},        // wide, combining
    };
    for (const auto& [raw, shown] : cases) {
        EXPECT_EQ(Printable(raw), shown) << raw;
        for (size_t pos = 0; pos < shown.size();) {
            EXPECT_FALSE(IsHiddenCharacter(NextCodePoint(shown, pos))) << raw;
        }
    }
}

TEST(TerminalTextTest, WidthsAreColumnsWhateverTheUsersLocale) {
    // The user's locale may know no wide characters at all.
    std::setlocale(LC_ALL, "C");
    const std::pair<std::string, int> texts[] = {
        {"abc", 3},
        {"\xE6\x97\xA5\xE6\x9C\xAC", 4},              // 日本
        {"\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4", 6},  // 한국어
        {"\xEF\xBC\xA1", 2},                          // full-width A
        {"e\xCC\x81", 1},                             // e and a combining accent
        {"\xF0\x9F\x98\x80", 2},                      // emoji
        {"\xEF\xBF\xBD", 1},
    };
    for (const auto& [text, columns] : texts) EXPECT_EQ(TextColumns(text), columns) << text;
    // The table used where the system has no UTF-8 locale agrees on the common cases.
    for (char32_t c : {U'a', U'\u00e9', U'\u0301', U'\u3042', U'\u4e00', U'\uac00', U'\uff21',
                       U'\U0001F600', U'\U00020000', U'\u0410'}) {
        EXPECT_EQ(EstimatedColumns(c), CharColumns(c)) << static_cast<uint32_t>(c);
    }
}

TEST(TerminalTextTest, FittedTextNeverPassesItsColumns) {
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語, 6 columns
    EXPECT_EQ(FitColumns("abcdef", 6), "abcdef");
    EXPECT_EQ(FitColumns("abcdef", 4), "abc\xE2\x80\xA6");
    EXPECT_EQ(FitColumns(japanese, 5), "\xE6\x97\xA5\xE6\x9C\xAC\xE2\x80\xA6");
    EXPECT_EQ(FitColumns(japanese, 4), "\xE6\x97\xA5\xE2\x80\xA6");  // never half a character
    EXPECT_EQ(FitColumns(japanese, 0), "");
    EXPECT_EQ(PadColumns(japanese, 8), japanese + "  ");
    EXPECT_EQ(PadColumns(japanese, 4), "\xE6\x97\xA5\xE2\x80\xA6 ");
    const std::string mixed = "Kamera " + japanese + " \xED\x95\x9C\xEA\xB5\xAD e\xCC\x81 end";
    for (int columns = 0; columns <= 30; ++columns) {
        const std::string fitted = FitColumns(mixed, columns);
        EXPECT_LE(TextColumns(fitted), columns);
        EXPECT_TRUE(IsValidUtf8(fitted)) << columns;
        EXPECT_EQ(TextColumns(PadColumns(mixed, columns)), columns);
    }
}

}  // namespace
