// The trace log stays within a few files of bounded size however long the program runs.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
