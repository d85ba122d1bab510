#include "base/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, ParseDecimalReadsLeadingDigitsOnly) {
    EXPECT_EQ(ParseDecimal("8080"), 8080);
    EXPECT_EQ(ParseDecimal("  42abc"), 42);
    EXPECT_EQ(ParseDecimal("-17"), -17);
    EXPECT_EQ(ParseDecimal("+5"), 5);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ParseDecimal("-99999999999999999999999"), INT64_MIN);
}

TEST(TextTest, ParseDecimalSaturatesWhereTwentyDigitsWouldWrap) {
    // Each of these passes 2^64 on its last digit: a check after the step sees a small
    // number ("...696" would read as 80).
    const struct {
        const char* Text;
        int64_t Value;
    } cases[] = {
        {"18446744073709551696", INT64_MAX},        {"18446744073709551617", INT64_MAX},
        {"-18446744073709551696", INT64_MIN},       {"23202310151234567890", INT64_MAX},
        {"9223372036854775807", INT64_MAX},         {"9223372036854775808", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},        {"-9223372036854775807", INT64_MIN + 1},
        {"922337203685477580", 922337203685477580},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.Text), c.Value) << c.Text;
    EXPECT_TRUE(IsSaturatedDecimal(ParseDecimal("18446744073709551696")));
    EXPECT_FALSE(IsSaturatedDecimal(ParseDecimal("1893456000")));
}

TEST(TextTest, SplitAnySkipsEmptyPieces) {
    EXPECT_EQ(SplitAny("https://10.0.0.5:8443", ":/"),
              (std::vector<std::string>{"https", "10.0.0.5", "8443"}));
    EXPECT_EQ(SplitAny("1..2.", "."), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(SplitAny("", ".").empty());
    EXPECT_EQ(SplitAny("abc", "."), (std::vector<std::string>{"abc"}));
}

TEST(TextTest, CaseInsensitiveHelpersFoldAscii) {
    EXPECT_TRUE(ContainsNoCase("QUORLENT Systems", "Quorlent"));
    EXPECT_FALSE(ContainsNoCase("Quor lent", "quorlent"));
    EXPECT_TRUE(ContainsNoCase("anything", ""));
    EXPECT_TRUE(EqualsNoCase("-AUTO", "-auto"));
    EXPECT_FALSE(EqualsNoCase("-auto ", "-auto"));
    EXPECT_EQ(ToUpperAscii("aa:bb:0f"), "AA:BB:0F");
}

TEST(TextTest, TrimRemovesBlanksAndLineEnds) {
    EXPECT_EQ(Trim("  NVR-1600 \r\n"), "NVR-1600");
    EXPECT_EQ(Trim("\t\t"), "");
    EXPECT_EQ(Trim("a b"), "a b");
}

TEST(TextTest, ValueAfterMarkerStopsAtLineFeed) {
    std::string value;
    EXPECT_TRUE(ValueAfterMarker("a=1\nnvr.system.product.model=NVR-16 \r\nb=2",
                                 "nvr.system.product.model=", value));
    EXPECT_EQ(value, "NVR-16 \r");
    EXPECT_TRUE(ValueAfterMarker("x=1\nmodel=Last", "model=", value));
    EXPECT_EQ(value, "Last");
    EXPECT_FALSE(ValueAfterMarker("nothing here", "model=", value));
    EXPECT_EQ(value, "");
}

TEST(TextTest, StrFormatHandlesLongOutput) {
    EXPECT_EQ(StrFormat("%d%% (%s%02d:%02d)", 5, "left:", 1, 2), "5% (left:01:02)");
    std::string longText(5000, 'x');
    EXPECT_EQ(StrFormat("<%s>", longText.c_str()).size(), 5002u);
}

}  // namespace
