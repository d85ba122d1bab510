#include "base/utf16.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf16Test, CountsAndCutsInUtf16Units) {
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length("\xE4\xB8\xAD"), 1u);                    // U+4E2D
    EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u);                // U+1F600, a surrogate pair
    EXPECT_EQ(Utf16Length("\xff\xc3"), 2u);                        // malformed bytes count one each
    EXPECT_EQ(TruncateToUtf16Units("a\xF0\x9F\x98\x80", 2), "a");  // never half a pair
    EXPECT_EQ(TruncateToUtf16Units("a\xF0\x9F\x98\x80", 3), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(TruncateToUtf16Units("ab", 0), "");
}

TEST(Utf16Test, ValidatesUtf8) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(
        IsValidUtf8("Stra\xC3\x9F"
                    "e \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC3\x28"));          // bad continuation
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // encoded surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // cut short
}

TEST(Utf16Test, ConvertsUtf16LeAndReplacesLoneSurrogates) {
    EXPECT_EQ(Utf16LeToUtf8(std::string("A\0\x2D\x4E\x3D\xD8\x00\xDE", 8)),
              "A\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xDC"
                                        "B\0",
                                        4)),
              "\xEF\xBF\xBD"
              "B");
    EXPECT_EQ(Utf16LeToUtf8(std::string("\x3D\xD8"
                                        "C\0",
                                        4)),
              "\xEF\xBF\xBD"
              "C");
    EXPECT_EQ(Utf16LeToUtf8(std::string("D\0E", 3)), "D");  // odd last byte dropped
}

}  // namespace
