#include "app/cli/cli_args.h"

#include <gtest/gtest.h>

#include "app/cli/device_session.h"
#include "app/cli/json_line.h"

namespace {

const std::vector<OptionSpec> kSpecs = {{"--all", OptionKind::Flag},
                                        {"--password", OptionKind::Single},
                                        {"--interface", OptionKind::Multi}};

TEST(CliArgsTest, ParsesFlagsValuesAndPositionals) {
    std::string error;
    auto args = CliArgs::Parse({"list", "--interface", "eth0", "--all", "--interface=eth1",
                                "--password", "a b&c", "extra"},
                               kSpecs, error);
    ASSERT_TRUE(args) << error;
    EXPECT_TRUE(args->Has("--all"));
    EXPECT_EQ(args->Values("--interface"), (std::vector<std::string>{"eth0", "eth1"}));
    EXPECT_EQ(args->Value("--password"), "a b&c");
    EXPECT_EQ(args->Positional(), (std::vector<std::string>{"list", "extra"}));
    EXPECT_EQ(args->Value("--missing", "dflt"), "dflt");
}

TEST(CliArgsTest, RejectsBadArgumentsWithAMessage) {
    std::string error;
    EXPECT_FALSE(CliArgs::Parse({"--bogus"}, kSpecs, error));
    EXPECT_EQ(error, "unknown option --bogus");
    EXPECT_FALSE(CliArgs::Parse({"--password"}, kSpecs, error));
    EXPECT_EQ(error, "option --password needs a value");
    EXPECT_FALSE(CliArgs::Parse({"--password", "a", "--password", "b"}, kSpecs, error));
    EXPECT_EQ(error, "option --password given twice");
    EXPECT_FALSE(CliArgs::Parse({"--all=yes"}, kSpecs, error));
    EXPECT_EQ(error, "option --all takes no value");
}

TEST(JsonLineTest, EscapesTextsAndKeepsOrder) {
    std::string line = JsonLine()
                           .Add("DeviceId", "QX\"1\\")
                           .Add("stage", 32)
                           .Add("LoginOk", true)
                           .Add("text", "a\nb\x01")
                           .Text();
    EXPECT_EQ(line, R"({"DeviceId":"QX\"1\\","stage":32,"LoginOk":true,"text":"a\nb\u0001"})");
    EXPECT_EQ(JsonLine().Text(), "{}");
    // Malformed UTF-8 from a device never reaches a JSON reader.
    EXPECT_EQ(JsonLine().Add("Device", "Gate\xff\xc3(\xc3\xa9").Text(),
              "{\"Device\":\"Gate\xef\xbf\xbd\xef\xbf\xbd(\xc3\xa9\"}");
}

}  // namespace

namespace {

TEST(CliArgsTest, DeviceAddressesSplitIntoHostAndPort) {
    struct Case {
        std::string Text;
        std::string Host;  // empty: refused
        int Port;
    };
    for (const Case& c : std::vector<Case>{{"10.0.0.5", "10.0.0.5", 80},
                                           {"10.0.0.5:8080", "10.0.0.5", 8080},
                                           {"[fd00::5]:8443", "fd00::5", 8443},
                                           {"[fd00::5]", "fd00::5", 80},
                                           {"fd00::5", "fd00::5", 80},
                                           {"localhost:65535", "localhost", 65535},
                                           {"10.0.0.5:", "", 0},
                                           {"10.0.0.5:0", "", 0},
                                           {"10.0.0.5:65536", "", 0},
                                           {"10.0.0.5:80x", "", 0},
                                           {"[fd00::5]x", "", 0},
                                           {"[fd00::5", "", 0},
                                           {":80", "", 0}}) {
        std::string host;
        int port = 0;
        std::string error;
        const bool parsed = ParseDeviceAddress(c.Text, host, port, error);
        EXPECT_EQ(parsed, !c.Host.empty()) << c.Text;
        if (!parsed) {
            EXPECT_FALSE(error.empty()) << c.Text;
            continue;
        }
        EXPECT_EQ(host, c.Host) << c.Text;
        EXPECT_EQ(port, c.Port) << c.Text;
    }
}

}  // namespace
