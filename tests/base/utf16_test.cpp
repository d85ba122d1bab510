#include "base/utf16.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf16Test, RejectsMalformedUtf8AndReplacesLoneSurrogates) {
    EXPECT_TRUE(
        IsValidUtf8("Stra\xC3\x9F"
                    "e \xF0\x9F\x98\x80"));
    for (const char* bad :
         {"\xC3\x28", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8"}) {
        EXPECT_FALSE(IsValidUtf8(bad))
            << bad;  // bad continuation, overlong, surrogate, too big, cut
    }
    EXPECT_EQ(Utf16Length("\xff\xc3"), 2u);  // malformed bytes count one unit each
    EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xDC"
                                        "B\0\x3D\xD8",
                                        6)),
              "\xEF\xBF\xBD"
              "B\xEF\xBF\xBD");
}

}  // namespace
