#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>

#include "base/file_lock.h"

#include "support/temp_dir.h"

namespace {

TEST(AtomicFileTest, ReplacesTheFileWithTheGivenModeAndLeavesNoTemporary) {
    TempDir dir;
    dir.Write("schedule.xml", "old");
    ASSERT_TRUE(WriteFileAtomically(dir.File("schedule.xml"), "new text", 0600));
    EXPECT_EQ(dir.Read("schedule.xml"), "new text");
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("schedule.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        entries += !!e.is_regular_file();
    EXPECT_EQ(entries, 1);
}

TEST(AtomicFileTest, FailureKeepsTheOldFile) {
    TempDir dir;
    dir.Write("keep.xml", "old");
    std::filesystem::create_directory(dir.File("keep.xml.dir"));
    // The target is a folder: the rename fails, the old file next to it is untouched.
    EXPECT_FALSE(WriteFileAtomically(dir.File("keep.xml.dir"), "new"));
    EXPECT_FALSE(WriteFileAtomically(dir.File("missing/keep.xml"), "new"));
    EXPECT_EQ(dir.Read("keep.xml"), "old");
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("keep.xml.dir")));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) entries += !!e.exists();
    EXPECT_EQ(entries, 2);  // no temporary left behind
}

TEST(AtomicFileTest, SavesThroughSymlinksAndClearsOnlyDeadSavesLeftovers) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    dir.Write("real/settings.conf", "old");
    std::filesystem::create_symlink("real/settings.conf", dir.File("link1"));
    std::filesystem::create_symlink(dir.File("link1"), dir.File("link2"));  // a chain
    ASSERT_TRUE(WriteFileAtomically(dir.File("link2"), "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link2")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link1")));
    EXPECT_EQ(dir.Read("real/settings.conf"), "new");
    // A link to a file not there yet creates it.
    std::filesystem::create_symlink("real/fresh.xml", dir.File("fresh"));
    ASSERT_TRUE(WriteFileAtomically(dir.File("fresh"), "made"));
    EXPECT_EQ(dir.Read("real/fresh.xml"), "made");

    const std::string live = "settings.conf.tmp." + std::to_string(::getpid()) + ".Ab12Cd";
    for (const std::string& name : {std::string("settings.conf.tmp.999999999.Ab12Cd"), live,
                                    std::string("settings.conf.tmp.999999999.short"),
                                    std::string("other.conf.tmp.999999999.Ab12Cd")}) {
        dir.Write("real/" + name, "x");
    }
    RemoveStaleTemporaries(dir.File("link2"));
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("real")))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"fresh.xml", "other.conf.tmp.999999999.Ab12Cd",
                                              "settings.conf", live,
                                              "settings.conf.tmp.999999999.short"}));
}

TEST(FileLockTest, HoldsExcludeEachOtherWithinAndAcrossProcesses) {
    TempDir dir;
    const std::string path = dir.File("x.lock");
    EXPECT_FALSE(CFileLock::IsHeld(path));
    std::optional<CFileLock> held = CFileLock::Acquire(path);
    ASSERT_TRUE(held);
    EXPECT_TRUE(CFileLock::IsHeld(path));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(CFileLock::TryAcquire(path, std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    // A child process sees the hold too (flock holds survive fork only in the parent's
    // open file, so the child opens its own).
    const pid_t child = ::fork();
    if (child == 0) ::_exit(CFileLock::TryAcquire(path, std::chrono::milliseconds(0)) ? 1 : 0);
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    held.reset();
    EXPECT_FALSE(CFileLock::IsHeld(path));
    EXPECT_TRUE(CFileLock::TryAcquire(path, std::chrono::milliseconds(0)));
    EXPECT_FALSE(CFileLock::Acquire(dir.File("missing/x.lock")));
}

}  // namespace
