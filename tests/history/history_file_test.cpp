// The history file: what a line keeps, and that no writer, killed or racing another,
// leaves a record that is broken, glued to another or lost.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "history/history_file.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace {

UpgradeHistoryRecord Sample(const std::string& id, int code = 0) {
    UpgradeHistoryRecord r;
    r.Time = 1796793494;  // 2026-12-09T05:18:14Z
    r.DeviceId = id;
    r.DeviceName = "Gate camera";
    r.Model = "KT-710R";
    r.Mac = "00:1A:2B:3C:4D:5E";
    r.Address = "198.18.1.3:80";
    r.VersionBefore = "2.0.4";
    r.VersionAfter = "2.1.0";
    r.Code = code;
    r.ResultText = "Upgrade successful";
    r.ImageFile = "kt710r-2.1.0.bin";
    r.ImageMd5 = "0123456789abcdef0123456789abcdef";
    return r;
}

// Appends `count` records named "<writer>-<n>" in a child process; returns its pid.
pid_t SpawnWriter(const std::string& path, const std::string& writer, int count) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int n = 0; n < count; ++n) {
            if (AppendHistory(path, Sample(writer + "-" + std::to_string(n))) != 0) ::_exit(1);
        }
        ::_exit(0);
    }
    return pid;
}

TEST(HistoryFileTest, LineKeepsEveryFieldAndSanitisesDeviceTexts) {
    struct Case {
        std::string Given;
        std::string Kept;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"tab\there, line\nbreak\r\\ back", "tab\there, line\nbreak\r\\ back"},
        {"bell\a and del\x7F gone", "bell and del gone"},
        {"broken \xC3( utf-8 \xFF", "broken \xEF\xBF\xBD( utf-8 \xEF\xBF\xBD"},
        {"H\xC3\xA4user \xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA",
         "H\xC3\xA4user \xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA"},
        {std::string(300, 'x'), std::string(256, 'x')},
        // Cut at the limit without splitting a character.
        {std::string(255, 'x') + "\xC3\xA4", std::string(255, 'x')},
    };
    for (const Case& c : cases) {
        UpgradeHistoryRecord r = Sample("A", -406);
        r.DeviceName = c.Given;
        const std::string line = EncodeHistoryLine(r);
        ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line: " << c.Given;
        std::optional<UpgradeHistoryRecord> back =
            DecodeHistoryLine(std::string_view(line).substr(0, line.size() - 1));
        ASSERT_TRUE(back) << line;
        UpgradeHistoryRecord expected = r;
        expected.DeviceName = c.Kept;
        EXPECT_EQ(*back, expected) << c.Given;
    }
}

TEST(HistoryFileTest, LineCutAnywhereIsNotTakenForARecord) {
    const std::string line = EncodeHistoryLine(Sample("A"));
    const std::string_view whole(line.data(), line.size() - 1);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_FALSE(DecodeHistoryLine(whole.substr(0, cut))) << "cut at " << cut;
    }
    EXPECT_TRUE(DecodeHistoryLine(whole));
}

TEST(HistoryFileTest, RecordAfterACutLineStartsALineOfItsOwn) {
    TempDir dir;
    const std::string line = EncodeHistoryLine(Sample("first"));
    dir.Write("history.tsv", line + line.substr(0, 40));  // a writer died mid-line
    ASSERT_EQ(AppendHistory(dir.File("history.tsv"), Sample("after")), 0);
    int skipped = 0;
    const auto records = ReadHistory(dir.File("history.tsv"), &skipped);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].DeviceId, "first");
    EXPECT_EQ(records[1], Sample("after"));
    EXPECT_EQ(skipped, 1);

    EXPECT_TRUE(ReadHistory(dir.File("missing.tsv")).empty());
    EXPECT_EQ(AppendHistory(dir.File("new/folder/history.tsv"), Sample("A")), 0);
    EXPECT_EQ(ReadHistory(dir.File("new/folder/history.tsv")).size(), 1u);
}

TEST(HistoryFileTest, ConcurrentWritersLoseNothingAndKilledOnesBreakNothing) {
    TempDir dir;
    const std::string path = dir.File("history.tsv");
    constexpr int kWriters = 4;
    constexpr int kEach = 150;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.push_back(SpawnWriter(path, "w" + std::to_string(w), kEach));
    // Two more that are killed while they write.
    const pid_t killed1 = SpawnWriter(path, "k1", 1000000);
    const pid_t killed2 = SpawnWriter(path, "k2", 1000000);
    // Killed once both are busy writing.
    EXPECT_TRUE(WaitUntil([&] {
        const std::string text = dir.Read("history.tsv");
        return text.find("\tk1-") != std::string::npos && text.find("\tk2-") != std::string::npos;
    }));
    ::kill(killed1, SIGKILL);
    ::kill(killed2, SIGKILL);
    for (pid_t pid : {killed1, killed2}) ::waitpid(pid, nullptr, 0);
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    int skipped = -1;
    const auto records = ReadHistory(path, &skipped);
    EXPECT_EQ(skipped, 0) << "a killed writer left a broken line";
    std::set<std::string> seen;
    int killedRecords = 0;
    for (const UpgradeHistoryRecord& r : records) {
        EXPECT_TRUE(seen.insert(r.DeviceId).second) << "twice: " << r.DeviceId;
        UpgradeHistoryRecord same = Sample(r.DeviceId);
        EXPECT_EQ(r, same);
        if (r.DeviceId[0] == 'k') ++killedRecords;
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int n = 0; n < kEach; ++n) {
            EXPECT_TRUE(seen.count("w" + std::to_string(w) + "-" + std::to_string(n)));
        }
    }
    EXPECT_GT(killedRecords, 0) << "the killed writers never wrote";
}

}  // namespace
