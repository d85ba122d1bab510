// Which files count as firmware images: a file that starts with its mark, or one the
// firmware store keeps behind its size header.
#include <gtest/gtest.h>

#include "pipeline/image_file.h"
#include "support/temp_dir.h"
#include "upload_images.h"

namespace {

TEST(ImageFileTest, FirmwareImagesByTheirMark) {
    TempDir dir;
    for (const char* mark : {"QRBA", "QRBE", "QRBI", "QRBO", "QRBU"}) {
        dir.Write(mark, std::string(mark) + PatternBytes(10));
        EXPECT_TRUE(IsFirmwareImage(dir.File(mark))) << mark;
    }
    dir.Write("stored.bin", StoredImage(MarkedImage(5000)));
    dir.Write("mark-only.bin", "QRBA");
    dir.Write("stored-mark-only.bin", StoredImage("QRBO"));
    for (const char* name : {"stored.bin", "mark-only.bin", "stored-mark-only.bin"}) {
        EXPECT_TRUE(IsFirmwareImage(dir.File(name))) << name;
    }

    // The header must name the rest of the file exactly.
    std::string wrongHeader = StoredImage(MarkedImage(5000));
    wrongHeader[0] ^= 1;
    dir.Write("wrong-header.bin", wrongHeader);
    dir.Write("lower.bin", "qrba" + PatternBytes(10));
    dir.Write("short.bin", "QRB");
    dir.Write("empty.bin", "");
    dir.Write("stored-junk.bin", StoredImage("JUNK" + PatternBytes(10)));
    for (const char* name :
         {"wrong-header.bin", "lower.bin", "short.bin", "empty.bin", "stored-junk.bin"}) {
        EXPECT_FALSE(IsFirmwareImage(dir.File(name))) << name;
    }
    EXPECT_FALSE(IsFirmwareImage(dir.File("missing.bin")));
    EXPECT_FALSE(IsFirmwareImage(dir.Path()));

    EXPECT_TRUE(StartsWithImageMark("QRBIxyz"));
    EXPECT_FALSE(StartsWithImageMark("QRB"));
    EXPECT_FALSE(StartsWithImageMark("xQRBA"));
}

}  // namespace
