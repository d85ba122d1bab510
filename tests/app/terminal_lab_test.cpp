// strelvane-cli for a person at a terminal, run through a pseudo-terminal in the lab:
// the upgrade is drawn in place and summed up, search shows a table, colours follow
// NO_COLOR, and --json or a pipe keep the JSON lines. Every finished outcome lands in
// the history.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "base/atomic_file.h"
#include "base/terminal_text.h"
#include "base/text.h"
#include "history/history_file.h"
#include "support/child_process.h"
#include "support/devsim_process.h"
#include "support/lab_network.h"
#include "support/temp_dir.h"
#include "upgrade/upload_images.h"
#include "visible_lines.h"

using namespace std::chrono_literals;

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class TerminalLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = LabNetwork::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    }
};

TEST_F(TerminalLabTest, PeopleSeeProgressAndTablesMachinesKeepTheirLines) {
    LabNetwork lab({.Devices = 2});
    TempDir dir;
    dir.Write("fw.bin", MarkedImage(200000, "2.0.0"));
    // Reflashed with the version it runs, only its absence shows that it restarted. So it
    // stays away longer than the search may be silent, and than the countdown takes to
    // its first look over HTTP (four seconds at this pace, more on a busy machine); the
    // countdown of twelve seconds or more outlasts the absence.
    const std::string common =
        "model=NVR-1600,http_port=80,https_port=-1,firmware=1.0.0,"
        "reboot_seconds=7";
    DevsimProcess sim(
        {"--discovery", "--device",
         "id=GOOD,name=Lobby NVR,address=198.18.1.1,mac=00:1C:A1:00:00:01," + common, "--device",
         "id=BAD,name=Yard\x1b[2J NVR,address=198.18.1.2,fault=reject_image," + common},
        lab.InDevices());
    const std::string history = "XDG_STATE_HOME=" + dir.Path();
    auto cli = [&](std::vector<std::string> words) {
        std::vector<std::string> argv = {"env", history};
        for (const std::string& w : lab.InTech()) argv.push_back(w);
        argv.push_back(STRELVANE_CLI_PATH);
        argv.insert(argv.end(), words.begin(), words.end());
        return argv;
    };
    const std::vector<std::string> upgrade = {"upgrade",          "--all",        "--file",
                                              dir.File("fw.bin"), "--time-scale", "30"};

    // On a terminal: lines redrawn in place, in colour, then the summary.
    ProcessResult shown = RunOnTerminal(cli(upgrade), {"TERM=xterm"}, 60s);
    EXPECT_EQ(shown.ExitCode, 1) << shown.Output;
    EXPECT_FALSE(Has(shown.Output, "{\"DeviceId\"")) << shown.Output;
    EXPECT_TRUE(Has(shown.Output, "\x1b[2A")) << "redrawn in place";
    EXPECT_TRUE(Has(shown.Output, "[####################]"));
    EXPECT_TRUE(Has(shown.Output, "Lobby NVR"));
    EXPECT_TRUE(Has(shown.Output, "Yard NVR")) << "a device's escape is not passed on";
    EXPECT_FALSE(Has(shown.Output, "\x1b[2J"));
    EXPECT_TRUE(Has(shown.Output, "\x1b[32m"));
    EXPECT_TRUE(Has(shown.Output,
                    "1 upgraded, 0 already up to date, 1 failed: Yard NVR (Failed! Please "
                    "check the firmware file.)"))
        << shown.Output;

    // NO_COLOR: the same without colours; search shows a table.
    ProcessResult plain = RunOnTerminal(cli({"search", "--password", "vqmtz"}), {"NO_COLOR="}, 30s);
    EXPECT_EQ(plain.ExitCode, 0) << plain.Output;
    EXPECT_FALSE(Has(plain.Output, "\x1b[")) << plain.Output;
    EXPECT_TRUE(Has(plain.Output, "ID    NAME       MODEL     ADDRESS        FIRMWARE  LOG-IN"))
        << plain.Output;
    EXPECT_TRUE(Has(plain.Output, "GOOD  Lobby NVR  NVR-1600  198.18.1.1:80  2.0.0     ok"))
        << plain.Output;

    // --json on a terminal and a plain pipe: JSON lines only.
    ProcessResult json = RunOnTerminal(cli({"search", "--json"}), {}, 30s);
    ProcessResult piped = RunProcess(cli(upgrade), 60s);
    EXPECT_EQ(piped.ExitCode, 1);
    // Scripts read these lines: their final ones, byte for byte.
    EXPECT_TRUE(Has(piped.Output,
                    "{\"DeviceId\":\"GOOD\",\"stage\":32,\"seconds\":0,\"percent\":100,\"code\":0,"
                    "\"text\":\"Firmware upgrade successful.\",\"FirmwareVersion\":\"2.0.0\","
                    "\"HostAddress\":\"198.18.1.1\"}\n"))
        << piped.Output;
    EXPECT_TRUE(
        Has(piped.Output,
            "{\"DeviceId\":\"BAD\",\"stage\":32,\"seconds\":0,\"percent\":100,\"code\":-406,"
            "\"text\":\"Failed! Please check the firmware file.\",\"FirmwareVersion\":\"\","
            "\"HostAddress\":\"198.18.1.2\"}\n"))
        << piped.Output;
    for (const std::string* output : {&json.Output, &piped.Output}) {
        const auto lines = SplitAny(*output, "\r\n");
        EXPECT_FALSE(lines.empty());
        for (const std::string& line : lines) {
            EXPECT_TRUE(StartsWith(line, "{\"DeviceId\":\"")) << line;
        }
    }

    // Two upgrades, two devices each: four outcomes kept, with the MAC the device named,
    // the versions before and the version a returned device named.
    const auto records = ReadHistory(dir.File("strelvane/history.tsv"));
    ASSERT_EQ(records.size(), 4u);
    std::multiset<std::string> outcomes;
    for (const UpgradeHistoryRecord& r : records) {
        outcomes.insert(r.DeviceId + " " + r.Mac + " " + r.VersionBefore + ">" + r.VersionAfter +
                        " " + std::to_string(r.Code));
        EXPECT_EQ(r.ImageFile, "fw.bin");
        EXPECT_EQ(r.ImageMd5.size(), 32u);
    }
    const std::string bad = "BAD 00:00:00:00:00:00 1.0.0> -406";
    EXPECT_EQ(outcomes,
              (std::multiset<std::string>{bad, bad, "GOOD 00:1C:A1:00:00:01 1.0.0>2.0.0 0",
                                          "GOOD 00:1C:A1:00:00:01 2.0.0>2.0.0 0"}));
}

// A site of Japanese and Korean device names, one device whose identifier carries escape
// sequences, an 80-column terminal and a state folder on a full disk: nothing a device
// sent acts on the terminal, every line fits, and the outcomes that the history could not
// keep are named, while the upgrade's own result stands.
TEST_F(TerminalLabTest, HostileTextsWideNamesAndAFullStateDisk) {
    LabNetwork lab({.Devices = 2});
    TempDir dir;
    dir.Write("fw.bin", MarkedImage(200000, "2.0.0"));
    ASSERT_EQ(::mkdir(dir.File("state").c_str(), 0700), 0);
    const std::string common =
        "model=NVR-1600,http_port=80,https_port=-1,firmware=1.0.0,"
        "reboot_seconds=3";
    const std::string hostileId = "AA:BB\x1b]0;owned\x07\x1b[2J\xE2\x80\xAE";
    DevsimProcess sim(
        {"--discovery", "--device",
         "id=" + hostileId +
             ",name=\xE6\x9D\xB1\xE4\xBA\xAC\xE9\xA7\x85\xE5\x8C\x97\xE5\x8F\xA3"
             "\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9\xE7\xAC\xAC\xE4\xBA\x8C\xE5\x8F\xB7"
             "\xE6\xA9\x9F\xE5\x8C\x97\xE5\x8F\xA3\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9,"
             "address=198.18.1.1," +
             common,
         "--device",
         "id=KR,name=\xEC\x84\x9C\xEC\x9A\xB8\xEC\x97\xAD \xEC\xA3\xBC\xEC\xB0\xA8"
         "\xEC\x9E\xA5 \xEC\xB9\xB4\xEB\xA9\x94\xEB\x9D\xBC 1\xEB\xB2\x88,"
         "address=198.18.1.2," +
             common},
        lab.InDevices());
    // The state folder becomes a small file system of this run's own, filled up; it goes
    // with the run's mount namespace (ip netns exec makes one).
    const std::string state = dir.File("state");
    auto cli = [&](std::vector<std::string> words) {
        std::vector<std::string> argv = {"env", "XDG_STATE_HOME=" + state};
        for (const std::string& w : lab.InTech()) argv.push_back(w);
        argv.insert(argv.end(),
                    {"/bin/sh", "-c",
                     "mount -t tmpfs -o size=64k strelvane-full \"$XDG_STATE_HOME\" || exit 90; "
                     "head -c 1M /dev/zero > \"$XDG_STATE_HOME/filler\" 2>/dev/null; exec \"$@\"",
                     "sh", STRELVANE_CLI_PATH});
        argv.insert(argv.end(), words.begin(), words.end());
        return argv;
    };
    auto fits = [](const ProcessResult& run) {
        EXPECT_FALSE(Has(run.Output, "\x1b]")) << run.Output;
        EXPECT_FALSE(Has(run.Output, "\x1b[2J")) << run.Output;
        EXPECT_FALSE(Has(run.Output, "\xE2\x80\xAE")) << run.Output;
        // The table and the progress lines; messages on standard error may wrap.
        for (const std::string& line : VisibleLines(run.Output)) {
            if (StartsWith(line, "strelvane-cli ") || StartsWith(line, "device ")) continue;
            EXPECT_LE(TextColumns(line), 79) << line;
        }
    };

    ProcessResult search =
        RunOnTerminal(cli({"search", "--password", "vqmtz"}), {"TERM=xterm"}, 30s, 80);
    if (search.ExitCode == 90) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(search.ExitCode, 0) << search.Output;
    fits(search);
    for (const char* cell : {"198.18.1.1:80", "198.18.1.2:80", "NVR-1600", "1.0.0"}) {
        EXPECT_TRUE(Has(search.Output, cell)) << search.Output;
    }

    ProcessResult upgrade =
        RunOnTerminal(cli({"upgrade", "--all", "--file", dir.File("fw.bin"), "--time-scale", "30"}),
                      {"TERM=xterm"}, 90s, 80);
    EXPECT_EQ(upgrade.ExitCode, 0) << upgrade.Output;
    fits(upgrade);
    EXPECT_TRUE(Has(upgrade.Output, "device AA:BB: log-in passed")) << upgrade.Output;
    EXPECT_TRUE(Has(upgrade.Output, "\x1b[2A")) << "redrawn in place, one line per device";
    EXPECT_TRUE(Has(upgrade.Output, "2 upgraded, 0 already up to date, 0 failed"));
    EXPECT_TRUE(Has(upgrade.Output,
                    "strelvane-cli upgrade: 2 outcomes could not be recorded in "
                    "the history " +
                        state +
                        "/strelvane/history.tsv: No space "
                        "left on device"))
        << upgrade.Output;
    // The run's file system went with it.
    std::string mounts;
    EXPECT_TRUE(ReadFileBytes("/proc/self/mounts", mounts));
    EXPECT_FALSE(Has(mounts, state));
}

}  // namespace
