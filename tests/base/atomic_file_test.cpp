#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <filesystem>

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

}  // namespace
