// The trace log stays within a few files of bounded size however long the program runs,
// one line per entry, whole and clean, however many processes write and rotate it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "base/text.h"
#include "base/trace.h"
#include "support/temp_dir.h"

namespace {

TEST(TraceTest, RotatesBySizeAndKeepsAFewFiles) {
    TempDir dir;
    const std::string path = dir.File("state/strelvane/strelvane.log");  // folder made on use
    SetTraceFile(path);
    const std::string filler(1000, 'x');
    // Enough for the file to fill five times over.
    const int lines = static_cast<int>(5 * kTraceRotateBytes / 1000) + 10;
    for (int i = 0; i < lines; ++i) Trace("line %d %s\n", i, filler.c_str());
    Trace("last line\n");
    SetTraceFile("");

    namespace fs = std::filesystem;
    for (int n = 1; n <= kTraceKeptFiles; ++n) {
        EXPECT_TRUE(fs::exists(path + "." + std::to_string(n))) << n;
        EXPECT_LE(fs::file_size(path + "." + std::to_string(n)),
                  static_cast<uintmax_t>(kTraceRotateBytes) + 1100);
    }
    EXPECT_FALSE(fs::exists(path + "." + std::to_string(kTraceKeptFiles + 1)));
    const std::string current = dir.Read("state/strelvane/strelvane.log");
    EXPECT_NE(current.find("last line\n"), std::string::npos);
    EXPECT_LT(current.size(), static_cast<size_t>(kTraceRotateBytes));
}

TEST(TraceTest, EveryEntryIsOneCleanLineInAFileOnlyItsOwnerReads) {
    TempDir dir;
    const std::string path = dir.File("strelvane.log");
    // An older version's file, world-readable, whose last line a full disk cut short.
    dir.Write("strelvane.log", "2026-01-01 00:00:00 debug cut sho");
    ::chmod(path.c_str(), 0644);
    SetTraceFile(path);
    Trace("FW len = %d", 2000042);  // a format without its line end
    Trace("first\nsecond\r\n");
    Trace("device %s: log-in passed\n", "AA:BB\x1b]0;owned\x07\x1b[2J\xE2\x80\xAE");
    SetTraceFile("");

    std::vector<std::string> lines = SplitAny(dir.Read("strelvane.log"), "\n");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "2026-01-01 00:00:00 debug cut sho");
    const std::string ends[] = {" debug FW len = 2000042", " debug first second",
                                " debug device AA:BB: log-in passed"};
    for (size_t i = 0; i < std::size(ends); ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(line.substr(19), ends[i]);
    }
    EXPECT_EQ(dir.Read("strelvane.log").back(), '\n');
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TraceTest, SixProcessesWritingAndRotatingLoseNoLine) {
    TempDir dir;
    const std::string path = dir.File("strelvane.log");
    SetTraceFile(path);
    constexpr int kProcesses = 6;
    // About 15 MB in all: the file rotates three times, and what is kept has room for all
    // of it only if no rotation happens twice (which would push the oldest file out).
    constexpr int kLines = 2400;
    const std::string filler(1000, 'x');
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(start[1]);
            char go;
            [[maybe_unused]] ssize_t n = ::read(start[0], &go, 1);  // all begin at once
            for (int i = 0; i < kLines; ++i) Trace("p%d line %d %s\n", p, i, filler.c_str());
            ::_exit(0);
        }
        children.push_back(pid);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SetTraceFile("");

    std::set<std::pair<int, int>> seen;
    size_t total = 0;
    for (const std::string suffix : {"", ".1", ".2", ".3"}) {
        if (!std::filesystem::exists(path + suffix)) continue;
        std::ifstream in(path + suffix, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_TRUE(text.empty() || text.back() == '\n') << suffix;
        for (const std::string& line : SplitAny(text, "\n")) {
            // "YYYY-MM-DD HH:MM:SS debug pP line I xxx...": whole, and alone on its line.
            int process = -1;
            int number = -1;
            int filled = 0;
            const bool whole =
                std::sscanf(line.c_str(), "%*4d-%*2d-%*2d %*2d:%*2d:%*2d debug p%d line %d %n",
                            &process, &number, &filled) == 2 &&
                filled > 0 && line.substr(static_cast<size_t>(filled)) == filler;
            ASSERT_TRUE(whole) << suffix << ": " << line.substr(0, 80);
            EXPECT_TRUE(seen.insert({process, number}).second) << line.substr(0, 40);
            ++total;
        }
    }
    EXPECT_EQ(total, static_cast<size_t>(kProcesses * kLines));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kLines));
}

}  // namespace
