// What the program reads must be a regular file: a FIFO, a folder or a device put in a
// settings, schedule, layout, catalogue or history file's place is refused at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <thread>

#include "base/atomic_file.h"
#include "base/regular_file.h"
#include "support/temp_dir.h"

namespace {

struct ReadOutcome {
    bool Read = false;
    int Error = 0;
    std::string Bytes;
};

// ReadFileBytes on a thread of its own: a read that blocks fails the test instead of
// holding it (the blocked thread is left behind).
std::optional<ReadOutcome> ReadWithin(const std::string& path, std::chrono::seconds limit) {
    auto done = std::make_shared<std::promise<ReadOutcome>>();
    std::future<ReadOutcome> outcome = done->get_future();
    std::thread([path, done] {
        ReadOutcome o;
        o.Read = ReadFileBytes(path, o.Bytes);
        o.Error = errno;
        done->set_value(o);
    }).detach();
    if (outcome.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return outcome.get();
}

TEST(RegularFileTest, OnlyRegularFilesAreReadAndTheRestSayWhy) {
    TempDir dir;
    dir.Write("settings.conf", "Storage=/x\n");
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir.File("settings.conf").c_str(), dir.File("link").c_str()), 0);
    struct Case {
        std::string Path;
        bool Read;
        std::string Why;
    };
    const Case cases[] = {
        {dir.File("settings.conf"), true, ""},
        {dir.File("link"), true, ""},  // a link to a regular file is read through
        {dir.File("fifo"), false, "not a regular file"},
        {"/dev/zero", false, "not a regular file"},  // would never end
        {dir.File("folder"), false, std::strerror(EISDIR)},
        {dir.File("missing"), false, std::strerror(ENOENT)},
    };
    for (const Case& c : cases) {
        const std::optional<ReadOutcome> outcome = ReadWithin(c.Path, std::chrono::seconds(10));
        ASSERT_TRUE(outcome) << c.Path << " blocked the reader";
        EXPECT_EQ(outcome->Read, c.Read) << c.Path;
        if (c.Read) {
            EXPECT_EQ(outcome->Bytes, "Storage=/x\n");
        } else {
            EXPECT_EQ(FileErrorText(outcome->Error), c.Why) << c.Path;
        }
    }
    // An append (as the history's and the trace's) opens without blocking too, and refuses
    // the FIFO rather than fill it until it blocks.
    EXPECT_LT(OpenRegularFile(dir.File("fifo"), O_RDWR | O_APPEND | O_CREAT, 0600), 0);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
