// The schedule file shared between processes: concurrent adds, a running scheduler that
// takes in other processes' changes, files that must not be replaced, the backup of
// what a rewrite drops, symbolic links and interrupted runs.
#include "schedule/schedule_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>

#include "base/file_lock.h"
#include "base/result_codes.h"
#include "schedule/schedule_runner.h"
#include "schedule_test_support.h"
#include "settings/xdg_folders.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "upgrade/upload_images.h"

namespace {

using namespace std::chrono_literals;
namespace st = schedule_status;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Mac(int n) {
    char text[18];
    std::snprintf(text, sizeof text, "00:00:5E:00:01:%02X", n);
    return text;
}

CScheduleInfo Entry(const std::string& mac, int64_t time, int status = st::kWaiting,
                    const std::string& image = "/fw/nvr.bin") {
    CScheduleInfo e = StoredEntry(mac, time, status);
    e.FWPath = image;
    return e;
}

std::set<std::string> Macs(const std::vector<CScheduleInfo>& entries) {
    std::set<std::string> macs;
    for (const CScheduleInfo& e : entries) macs.insert(e.MAC);
    return macs;
}

class ScheduleStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "HOME"}) {
            ::setenv(name, dir_.Path().c_str(), 1);
        }
        dir_.Write("image.bin", MarkedImage(1000, "2.1.0"));
    }

    std::string File() const { return dir_.File("fw_config.xml"); }

    std::vector<std::string> Cli(const std::vector<std::string>& words) const {
        std::vector<std::string> argv = {STRELVANE_CLI_PATH, "schedule"};
        argv.insert(argv.end(), words.begin(), words.end());
        argv.insert(argv.end(), {"--file", File()});
        return argv;
    }

    std::vector<std::string> AddCommand(const std::string& mac) const {
        return Cli({"add", "--ip", "127.0.0.1", "--user", "admin", "--password", "p", "--mac", mac,
                    "--device", "D", "--model", "M", "--version", "1.0", "--image",
                    dir_.File("image.bin"), "--time", "+3600"});
    }

    TempDir dir_;
};

TEST_F(ScheduleStoreTest, ConcurrentAddsFromManyProcessesLoseNothing) {
    constexpr int kProcesses = 16;
    std::vector<std::unique_ptr<ChildProcess>> adds;
    for (int n = 0; n < kProcesses; ++n) {
        adds.push_back(std::make_unique<ChildProcess>(AddCommand(Mac(n))));
    }
    for (auto& add : adds) EXPECT_EQ(add->Wait(30s), 0);
    std::set<std::string> expected;
    for (int n = 0; n < kProcesses; ++n) expected.insert(Mac(n));
    EXPECT_EQ(Macs(LoadSchedule(File())), expected);
}

TEST_F(ScheduleStoreTest, RunningSchedulerTakesInOtherProcessesChangesAndKeepsThem) {
    const Clock clock(50);
    const int64_t later = clock.UnixSeconds() + 3600;
    ASSERT_TRUE(SaveSchedule(File(), {Entry(Mac(1), later, st::kWaiting, dir_.File("image.bin")),
                                      Entry(Mac(2), later, st::kWaiting, dir_.File("image.bin"))}));
    CScheduleList list;
    ScheduleRecorder recorder;
    CScheduleRunner runner(list, clock, recorder, File(), PathExists);
    std::string error;
    ASSERT_EQ(runner.Start(&error), rc::kOk) << error;
    EXPECT_EQ(Macs(list.Infos()), (std::set<std::string>{Mac(1), Mac(2)}));

    // One scheduler per file, in this process or another.
    CScheduleList other;
    other.Assign(LoadSchedule(File()));
    CScheduleRunner second(other, clock, recorder, File(), PathExists);
    EXPECT_EQ(second.Start(&error), kScheduleRunElsewhere);
    EXPECT_TRUE(Has(error, "another scheduler")) << error;
    // Refused, it still saves without taking the file's entries for new ones.
    ASSERT_TRUE(second.Save());
    EXPECT_EQ(LoadSchedule(File()).size(), size_t{2});
    EXPECT_EQ(RunProcess(Cli({"run"}), 10s).ExitCode, 1);

    // Another process adds one entry, removes one and re-times one.
    ASSERT_EQ(RunProcess(AddCommand(Mac(3)), 10s).ExitCode, 0);
    ASSERT_TRUE(UpdateScheduleFile(File(), [&](std::vector<CScheduleInfo>& entries) {
                    entries.erase(entries.begin());       // Mac(1)
                    entries[0].UpgradeTime = later + 60;  // Mac(2)
                    return true;
                }).Ok);
    ASSERT_TRUE(WaitUntil([&] { return list.FindByMac(Mac(3)).has_value(); }, 5s));
    ASSERT_TRUE(WaitUntil([&] { return !list.FindByMac(Mac(1)).has_value(); }, 5s));
    // The refused one follows the file.
    ASSERT_TRUE(second.Refresh());
    EXPECT_EQ(Macs(other.Infos()), (std::set<std::string>{Mac(2), Mac(3)}));
    EXPECT_EQ(other.Infos().size(), size_t{2});
    // The runner's own saves keep what the other process did.
    ASSERT_TRUE(runner.Save());
    const std::vector<CScheduleInfo> saved = LoadSchedule(File());
    EXPECT_EQ(Macs(saved), (std::set<std::string>{Mac(2), Mac(3)}));
    for (const CScheduleInfo& e : saved) {
        if (e.MAC == Mac(2)) {
            EXPECT_EQ(e.UpgradeTime, later + 60);
        }
    }
    runner.Stop();
    // Stopped, the file may be run again.
    EXPECT_EQ(second.Start(&error), rc::kOk) << error;
    second.Stop();
}

TEST_F(ScheduleStoreTest, FilesThatCannotBeUsedAreNeverReplacedAndListFails) {
    struct Case {
        const char* Name;
        std::function<void()> Make;
        const char* Says;
    };
    const std::vector<Case> cases = {
        {"folder", [&] { std::filesystem::create_directory(File()); }, "cannot be read"},
        {"malformed", [&] { dir_.Write("fw_config.xml", "<PLAYER_SETTING><NODE dis=\"Sch"); },
         "not well-formed"},
        {"foreign", [&] { dir_.Write("fw_config.xml", "<html><body>hello</body></html>"); },
         "not a schedule"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(File());
        c.Make();
        const bool folder = std::filesystem::is_directory(File());
        const std::string before = folder ? "" : dir_.Read("fw_config.xml");
        const ProcessResult list = RunProcess(Cli({"list"}), 10s);
        EXPECT_EQ(list.ExitCode, 1) << c.Name;
        EXPECT_TRUE(list.Output.empty()) << c.Name << list.Output;
        const ProcessResult add = RunProcess(AddCommand(Mac(1)), 10s);
        EXPECT_EQ(add.ExitCode, 1) << c.Name;
        EXPECT_EQ(std::filesystem::is_directory(File()), folder) << c.Name;
        if (!folder) {
            EXPECT_EQ(dir_.Read("fw_config.xml"), before) << c.Name;
        }
        const ScheduleSaved saved = UpdateScheduleFile(File(), [](auto&) { return true; });
        EXPECT_FALSE(saved.Ok) << c.Name;
        EXPECT_TRUE(Has(saved.Error, c.Says)) << c.Name << ": " << saved.Error;
    }
}

TEST_F(ScheduleStoreTest, WhatARewriteDropsIsKeptInABackupOnce) {
    const std::string original =
        "<?xml version=\"1.0\"?>\n<PLAYER_SETTING Version=\"0.1\">\n"
        "<NODE dis=\"Schedule\">\n"
        "\t<NVR IP=\"10.0.0.9\" Port=\"80\" Https=\"0\" Account=\"a\" Password=\"p\" Device=\"d\" "
        "Model=\"m\" MAC=\"AA:AA:AA:AA:AA:AA\" Version=\"1\" FWPath=\"/x\" Status=\"1\" "
        "UpgradeTime=\"1900000000\" Note=\"kept by hand\" />\n"
        "\t<NVR IP=\"10.0.0.8\" MAC=\"BB:BB:BB:BB:BB:BB\" />\n"
        "</NODE>\n<NODE dis=\"Other\"><Item/></NODE>\n</PLAYER_SETTING>";
    dir_.Write("fw_config.xml", original);
    const ProcessResult first = RunProcess(AddCommand(Mac(1)), 10s);
    ASSERT_EQ(first.ExitCode, 0) << first.Output;
    EXPECT_EQ(dir_.Read("fw_config.xml.bak"), original);
    EXPECT_EQ(Macs(LoadSchedule(File())), (std::set<std::string>{"AA:AA:AA:AA:AA:AA", Mac(1)}));

    // Nothing more to drop: no second backup, and the first one stays.
    ASSERT_EQ(RunProcess(AddCommand(Mac(2)), 10s).ExitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(File() + ".bak.2"));
    EXPECT_EQ(dir_.Read("fw_config.xml.bak"), original);

    // A plain file of this program's own never gets one.
    std::filesystem::remove(File() + ".bak");
    ASSERT_EQ(RunProcess(AddCommand(Mac(3)), 10s).ExitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(File() + ".bak"));
}

TEST_F(ScheduleStoreTest, SymlinkedFileIsUpdatedThroughItsLink) {
    std::filesystem::create_directory(dir_.File("real"));
    std::filesystem::create_symlink("real/schedule.xml", File());
    ASSERT_EQ(RunProcess(AddCommand(Mac(1)), 10s).ExitCode, 0);
    ASSERT_EQ(RunProcess(AddCommand(Mac(2)), 10s).ExitCode, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(File()));
    EXPECT_EQ(Macs(LoadSchedule(dir_.File("real/schedule.xml"))),
              (std::set<std::string>{Mac(1), Mac(2)}));
}

TEST_F(ScheduleStoreTest, RunningEntriesWithoutASchedulerEndAsFailed) {
    ASSERT_TRUE(SaveSchedule(File(), {Entry(Mac(1), 1900000000, st::kUploading),
                                      Entry(Mac(2), 1900000000, st::kUpgrading),
                                      Entry(Mac(3), 1900000000, st::kWaiting)}));
    // A scheduler holds the file: its entries really are running.
    {
        std::optional<CFileLock> scheduler = CFileLock::Acquire(SchedulerLockPath(File()));
        ASSERT_TRUE(scheduler);
        EXPECT_EQ(ReadScheduleLocked(File()).Entries[0].Status, st::kUploading);
        EXPECT_EQ(LoadSchedule(File())[1].Status, st::kUpgrading);
    }
    // None does: they were interrupted, and the file and the trace say so.
    const ProcessResult list = RunProcess(Cli({"list"}), 10s);
    EXPECT_EQ(list.ExitCode, 0);
    EXPECT_TRUE(Has(list.Output, "\"status\":8"));
    std::vector<int> statuses;
    for (const CScheduleInfo& e : LoadSchedule(File())) statuses.push_back(e.Status);
    EXPECT_EQ(statuses, (std::vector<int>{st::kOtherFailed, st::kOtherFailed, st::kWaiting}));
    std::string trace;
    ASSERT_TRUE(ReadWholeFile(dir_.File("strelvane/strelvane.log"), trace));
    EXPECT_TRUE(Has(trace, "upgrade of " + Mac(1) + " at 10.0.0.5 was interrupted")) << trace;

    // A scheduler that starts on such a file ends them the same way.
    ASSERT_TRUE(SaveSchedule(File(), {Entry(Mac(4), 1900000000, st::kUpgrading)}));
    CScheduleList list4;
    ScheduleRecorder recorder;
    const Clock clock(50);
    CScheduleRunner runner(list4, clock, recorder, File(), PathExists);
    ASSERT_EQ(runner.Start(), rc::kOk);
    EXPECT_EQ(list4.Infos().at(0).Status, st::kOtherFailed);
    runner.Stop();
    EXPECT_EQ(LoadSchedule(File()).at(0).Status, st::kOtherFailed);
}

}  // namespace
