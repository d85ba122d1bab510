// strelvane-cli upgrade and search refuse bad arguments before they touch the network.
// Every run here names an interface that does not exist, so that no search can start
// in the machine's own namespace even if a check were to pass.
#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/web_test_support.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kNoSuchInterface = "strelvane-none0";

// Exit code and everything the command wrote (standard output and error).
ProcessResult Cli(std::vector<std::string> args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1",
                                     STRELVANE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, 10s);
}

void ExpectRefused(std::vector<std::string> args, const std::string& message) {
    args.push_back("--interface");
    args.push_back(kNoSuchInterface);
    const ProcessResult result = Cli(args);
    EXPECT_EQ(result.ExitCode, 2) << result.Output;
    EXPECT_NE(result.Output.find(message), std::string::npos) << result.Output;
}

TEST(UpgradeCliTest, BadArgumentsEndWithExitTwoAndAMessage) {
    TempDir dir;
    dir.Write("junk.bin", "JUNK" + PatternBytes(100));
    dir.Write("good.bin", "QRBU" + PatternBytes(100));
    const std::string good = dir.File("good.bin");

    ExpectRefused({"upgrade"}, "give either --all or --device ID...");
    ExpectRefused({"upgrade", "--all", "--device", "A"}, "give either --all or --device");
    ExpectRefused({"upgrade", "--all", "extra"}, "unexpected argument 'extra'");
    ExpectRefused({"upgrade", "--all", "--file", dir.File("junk.bin")},
                  "Failed! Please check the firmware file.");
    ExpectRefused({"upgrade", "--all", "--file", dir.File("missing.bin")},
                  "Failed! Please check the firmware file.");
    ExpectRefused({"upgrade", "--all", "--file", dir.Path()},
                  "Failed! Please check the firmware file.");
    ExpectRefused({"upgrade", "--all", "--file", good, "--storage", dir.Path()},
                  "--file and --storage exclude each other");
    ExpectRefused({"upgrade", "--all", "--storage", dir.File("none")}, "no store folder");
    for (const char* scale : {"0", "-2", "abc", "2x", "inf", ""}) {
        ExpectRefused({"upgrade", "--all", "--file", good, "--time-scale", scale},
                      "--time-scale needs a positive number");
    }
    ExpectRefused({"upgrade", "--all", "--file", good, "--time-scale", "30"},
                  "no network interface named 'strelvane-none0'");
    ExpectRefused({"upgrade", "--all", "--bogus"}, "unknown option --bogus");
    // A camera's own image carries no mark, but it must be a file with bytes in it.
    dir.Write("empty.bin", "");
    for (const std::string& camera : {dir.File("empty.bin"), dir.File("missing.bin"), dir.Path()}) {
        ExpectRefused({"upgrade", "--all", "--file", good, "--camera-file", camera},
                      "Failed! Please check the firmware file.");
    }
    ExpectRefused({"upgrade", "--all", "--file", good, "--camera-file", dir.File("junk.bin")},
                  "no network interface named 'strelvane-none0'");
    // The batch guards' values are checked before anything else runs.
    const std::pair<std::vector<std::string>, const char*> guards[] = {
        {{"--max-failures", "-1"}, "--max-failures needs a whole number"},
        {{"--max-failures", "2x"}, "--max-failures needs a whole number"},
        {{"--max-failures", ""}, "--max-failures needs a whole number"},
        {{"--until", "24:00"}, "--until needs a time of day"},
        {{"--until", "5"}, "--until needs a time of day"},
        {{"--watch-late", "1441"}, "--watch-late needs minutes"},
        {{"--watch-late", "half"}, "--watch-late needs minutes"},
        {{"--first-of-each-model", "yes"}, "unexpected argument 'yes'"},
    };
    for (const auto& [words, message] : guards) {
        std::vector<std::string> args = {"upgrade", "--all", "--file", good};
        args.insert(args.end(), words.begin(), words.end());
        ExpectRefused(args, message);
    }
    ExpectRefused({"upgrade", "--all", "--file", good, "--first-of-each-model", "--max-failures",
                   "0", "--until", "5:30", "--watch-late", "0"},
                  "no network interface named");
    ExpectRefused({"search", "--password", "x"}, "no network interface named");
}

TEST(UpgradeCliTest, HelpDescribesTheCommand) {
    const ProcessResult help = Cli({"upgrade", "--help"});
    EXPECT_EQ(help.ExitCode, 0);
    for (const char* word :
         {"--file IMAGE", "--all", "--device ID", "--password P", "--interface NAME",
          "--storage DIR", "--time-scale N", "SIGINT", "--first-of-each-model", "--max-failures N",
          "--until HH:MM", "--watch-late M", "(-601)", "(-602)", "(-603)", "code 601"}) {
        EXPECT_NE(help.Output.find(word), std::string::npos) << word;
    }
    const ProcessResult search = Cli({"search", "--help"});
    EXPECT_EQ(search.ExitCode, 0);
    EXPECT_NE(search.Output.find("--password P"), std::string::npos);
    const ProcessResult commands = Cli({"--help"});
    EXPECT_NE(commands.Output.find("upgrade"), std::string::npos);
}

}  // namespace
