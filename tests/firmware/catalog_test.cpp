// The catalogue's files and rules, without a server: firmware.xml, merging a server
// catalogue text, what needs downloading and which stored image fits a device.
#include <gtest/gtest.h>

#include <filesystem>

#include "firmware/catalog_xml.h"
#include "firmware/file_md5.h"
#include "firmware/firmware_catalog.h"
#include "firmware_test_support.h"
#include "support/child_process.h"

namespace {

const std::string kImageA = std::string(1000, 'a');
const std::string kImageB = std::string(1500, 'b');
const std::string kImageC = std::string(700, 'c');

class CatalogTest : public ::testing::Test {
protected:
    CatalogTest() { Make(); }

    void Make() {
        catalog_.reset();
        catalog_ = std::make_unique<CFirmwareCatalog>(store_.Path(), "http://127.0.0.1:9",
                                                      [] { return false; });
        catalog_->AddListener(&view_);
        view_.CallBackInto(catalog_.get());
    }

    // Loads the (possibly absent) firmware.xml, then merges `records`.
    void LoadAndMerge(const std::vector<CatalogRecord>& records) {
        ASSERT_TRUE(catalog_->ReadLocalCatalog());
        ASSERT_TRUE(catalog_->ParseServerCatalog(ServerCatalogText(records)));
    }

    void Store(const std::string& file, const std::string& bytes) {
        store_.Write(file, StoredImage(bytes));
    }

    bool Exists(const std::string& file) const {
        return std::filesystem::exists(store_.File(file));
    }

    TempDir store_;
    RecordingView view_;
    std::unique_ptr<CFirmwareCatalog> catalog_;
};

TEST_F(CatalogTest, LocalCatalogIsWrittenInItsExactFormAndReadBack) {
    CatalogRecord odd = Record("A&B \"x\" <y>", "M3", "3.0", "c.bin", kImageC, "P'3\tq");
    LoadAndMerge({Record("S1", "M1", "1.0", "a.bin", kImageA),
                  Record("S1", "M2", "2.0", "b.bin", kImageB, "Prod2"), odd});
    Store("a.bin", kImageA);
    catalog_->MarkDownloaded("S1", "M1", "H1", "1.0");
    catalog_->SetChecked("S1", true);
    ASSERT_TRUE(catalog_->SaveCatalog());

    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Firmwares>\r\n"
        "<Firmware Series=\"S1\" Checked=\"1\" ProductName=\"M1\" Model=\"M1\" HWVer=\"H1\" "
        "FWVer=\"1.0\" Filename=\"a.bin\" MD5=\"" +
        Md5Of(kImageA) +
        "\" Size=\"1000\"/>\r\n"
        "<Firmware Series=\"S1\" Checked=\"1\" ProductName=\"Prod2\" Model=\"M2\" HWVer=\"H1\" "
        "FWVer=\"\" Filename=\"\" MD5=\"\" Size=\"1500\"/>\r\n"
        "<Firmware Series=\"A&amp;B &quot;x&quot; &lt;y>\" Checked=\"0\" "
        "ProductName=\"P'3&#9;q\" Model=\"M3\" HWVer=\"H1\" FWVer=\"\" Filename=\"\" MD5=\"\" "
        "Size=\"700\"/>\r\n"
        "</Firmwares>";
    EXPECT_EQ(store_.Read("firmware.xml"), expected);

    // Read back: the escaped texts come back whole, selections and stored images kept.
    Make();
    view_.Clear();
    ASSERT_TRUE(catalog_->ReadLocalCatalog());
    const auto series = catalog_->Series();
    ASSERT_EQ(series.size(), 2u);
    EXPECT_TRUE(series[0].Checked);
    EXPECT_EQ(series[1].Name, odd.Series);
    EXPECT_EQ(series[1].Entries.at(0).ProductName, "P'3\tq");
    const CFirmwareInfo& stored = series[0].Entries.at(0);
    EXPECT_EQ(stored.StoredFilename, "a.bin");
    EXPECT_EQ(stored.LatestFilename, "a.bin");
    EXPECT_EQ(stored.StoredMD5, Md5Of(kImageA));
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"loading", "added S1 1", "added S1 1",
                                                        "added " + odd.Series + " 0"}));
}

TEST_F(CatalogTest, LoadingDropsRecordsWithoutTheirFileAndNeverDuplicates) {
    Store("a.bin", kImageA);
    store_.Write("firmware.xml",
                 "<Firmwares>"
                 "<Firmware Series=\"S1\" Checked=\"7\" Model=\"M1\" HWVer=\"H1\" FWVer=\"1.0\" "
                 "Filename=\"a.bin\" MD5=\"x\" Size=\"1000\"/>"
                 "<Firmware Series=\"S1\" Model=\"M2\" HWVer=\"H1\" FWVer=\"2.0\" "
                 "Filename=\"gone.bin\" MD5=\"y\" Size=\"5\"/>"
                 "<Firmware Series=\"S2\" Model=\"M3\" HWVer=\"H1\" Filename=\"\"/>"
                 "<Firmware Series=\"S3\" Model=\"M4\" HWVer=\"H1\" Filename=\"../a.bin\"/>"
                 "<Other Series=\"S4\" Model=\"M5\"/>"
                 "</Firmwares>");
    ASSERT_TRUE(catalog_->ReadLocalCatalog());
    // A second load (the network came back) adds nothing twice.
    ASSERT_TRUE(catalog_->ReadLocalCatalog());
    EXPECT_EQ(catalog_->SeriesNames(), (std::vector<std::string>{"S1", "S2"}));
    EXPECT_EQ(catalog_->CountImages("S1"), 1);
    EXPECT_EQ(catalog_->CountImages("S2"), 1);
    EXPECT_EQ(catalog_->Series()[0].Entries[0].ProductName, "M1");
    EXPECT_EQ(view_.Events(),
              (std::vector<std::string>{"loading", "added S1 1", "added S2 0", "loading"}));

    // Not well-formed: nothing changes, and a load that failed cannot be saved over.
    Make();
    store_.Write("firmware.xml", "<Firmwares><Firmware");
    EXPECT_FALSE(catalog_->ReadLocalCatalog());
    EXPECT_EQ(catalog_->CountImages("S1"), 0);
    EXPECT_FALSE(catalog_->SaveCatalog());
    catalog_.reset();
    EXPECT_EQ(store_.Read("firmware.xml"), "<Firmwares><Firmware");
}

TEST_F(CatalogTest, CatalogueNeverLoadedLeavesTheStoredFileAlone) {
    const std::string stored = "<Firmwares/>  kept as it is";
    store_.Write("firmware.xml", stored);
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        ServerCatalogText({Record("S1", "M1", "1.0", "a.bin", kImageA)})));
    Store("a.bin", kImageA);
    catalog_->MarkDownloaded("S1", "M1", "H1", "1.0");
    catalog_->SetChecked("S1", true);
    EXPECT_FALSE(catalog_->SaveCatalog());
    catalog_.reset();
    EXPECT_EQ(store_.Read("firmware.xml"), stored);
}

TEST_F(CatalogTest, ServerMergeReplacesRaisedVersionsAndRemovesWhatItNoLongerNames) {
    // Stored: M1 1.0 (a.bin) in S1; M2 1.0 (b.bin) in S1 and S2, sharing the file.
    LoadAndMerge({Record("S1", "M1", "1.0", "a.bin", kImageA),
                  Record("S1", "M2", "1.0", "b.bin", kImageB, "P2"),
                  Record("S2", "M2", "1.0", "b.bin", kImageB, "P2"),
                  Record("Gone", "M9", "1.0", "c.bin", kImageC)});
    Store("a.bin", kImageA);
    Store("b.bin", kImageB);
    Store("c.bin", kImageC);
    catalog_->MarkDownloaded("S1", "M1", "H1", "1.0");
    // One download marks every entry naming the file, in any series.
    catalog_->MarkDownloaded("S1", "M2", "H1", "1.0");
    catalog_->MarkDownloaded("Gone", "M9", "H1", "1.0");
    EXPECT_TRUE(catalog_->AllImagesStored("S2"));
    view_.Clear();

    // The server raises M1 and M2 in S1 only, and drops the series "Gone".
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        ServerCatalogText({Record("S1", "M1", "1.1", "a2.bin", kImageC),
                           Record("S1", "M2", "1.1", "b2.bin", kImageA, "P2"),
                           Record("S2", "M2", "1.0", "b.bin", kImageB, "P2")})));
    const auto series = catalog_->Series();
    ASSERT_EQ(series.size(), 2u);
    ASSERT_EQ(series[0].Entries.size(), 2u);
    const CFirmwareInfo& m1 = series[0].Entries[0];
    EXPECT_EQ(m1.LatestFWVer, "1.1");
    EXPECT_EQ(m1.StoredFilename, "");
    EXPECT_EQ(m1.StoredFWVer, "");
    EXPECT_FALSE(Exists("a.bin"));  // superseded and stored by no one
    EXPECT_TRUE(Exists("b.bin"));   // S2 still stores it
    EXPECT_FALSE(Exists("c.bin"));  // its series is gone
    EXPECT_EQ(series[1].Entries.at(0).StoredFilename, "b.bin");
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"added S1 0", "added S1 0", "added S2 0",
                                                        "removed Gone", "checked", "ready"}));

    // A later check decides alone: S2 disappears now, and so does its file.
    view_.Clear();
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        ServerCatalogText({Record("S1", "M1", "1.1", "a2.bin", kImageC)})));
    EXPECT_EQ(catalog_->SeriesNames(), std::vector<std::string>{"S1"});
    EXPECT_EQ(catalog_->CountImages("S1"), 1);
    EXPECT_FALSE(Exists("b.bin"));
    EXPECT_EQ(view_.IndexOf("removed S2"), 1);
}

TEST_F(CatalogTest, ServerTextsThatChangeNothing) {
    LoadAndMerge({Record("S1", "M1", "1.0", "a.bin", kImageA)});
    view_.Clear();
    // Empty (failed fetch): only the check notices.
    EXPECT_TRUE(catalog_->ParseServerCatalog(""));
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"checked", "ready"}));
    // Not well-formed or not a document: false, no change, no notice.
    view_.Clear();
    for (const char* bad : {"<FirmwareList><Firmware Series=\"S9\"", "just text", "<a></b>"}) {
        EXPECT_FALSE(catalog_->ParseServerCatalog(bad)) << bad;
    }
    EXPECT_TRUE(view_.Events().empty());
    EXPECT_EQ(catalog_->SeriesNames(), std::vector<std::string>{"S1"});

    // Record nodes are found by name, in any case; a file name that leaves the storage
    // folder is ignored.
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        "<X><firmwareItem Series=\"S1\" Model=\"M1\" HWVer=\"H1\" FWVer=\"1.0\" "
        "Filename=\"a.bin\" Size=\"12abc\"/><Item Series=\"S5\"/>"
        "<FIRMWARE Series=\"S6\" Model=\"M6\" Filename=\"../../etc/passwd\"/></X>"));
    EXPECT_EQ(catalog_->SeriesNames(), std::vector<std::string>{"S1"});
    EXPECT_EQ(catalog_->SeriesTotalSize("S1"), 12);
}

TEST_F(CatalogTest, SizesBeyondWhatTheStoreCanHoldMakeNoRecord) {
    // Wrapped, negative or beyond a 4-byte size header: no such image can be stored.
    ASSERT_TRUE(catalog_->ParseServerCatalog(
        "<F><Firmware Series=\"Wrap\" Model=\"A\" Filename=\"a.bin\" "
        "Size=\"18446744073709551617\"/>"
        "<Firmware Series=\"Neg\" Model=\"B\" Filename=\"b.bin\" Size=\"-5\"/>"
        "<Firmware Series=\"Big\" Model=\"C\" Filename=\"c.bin\" Size=\"4294967296\"/>"
        "<Firmware Series=\"Max\" Model=\"D\" Filename=\"d.bin\" Size=\"4294967295\"/>"
        "<Firmware Series=\"Max\" Model=\"E\" Filename=\"e.bin\" Size=\"4294967295\"/></F>"));
    EXPECT_EQ(catalog_->SeriesNames(), std::vector<std::string>{"Max"});
    EXPECT_EQ(catalog_->SeriesTotalSize("Max"), 2 * int64_t{4294967295});

    // The same rule for the store's own file, where two huge sizes once summed negative.
    store_.Write("firmware.xml",
                 "<Firmwares><Firmware Series=\"S\" Model=\"A\" Filename=\"\" "
                 "Size=\"9223372036854775807\"/><Firmware Series=\"S\" Model=\"B\" "
                 "Filename=\"x\" Size=\"9223372036854775807\"/></Firmwares>");
    Make();
    ASSERT_TRUE(catalog_->ReadLocalCatalog());
    EXPECT_EQ(catalog_->CountImages("S"), 0);
    EXPECT_GE(catalog_->SeriesTotalSize("S"), 0);
}

TEST_F(CatalogTest, NeedsDownloadResumesShortImagesAndDeletesBadOnes) {
    LoadAndMerge(
        {Record("S1", "M1", "1.0", "a.bin", kImageA), Record("S1", "M2", "1.0", "b.bin", kImageB)});
    Store("a.bin", kImageA);
    Store("b.bin", kImageB);
    catalog_->MarkDownloaded("S1", "M1", "H1", "1.0");
    catalog_->MarkDownloaded("S1", "M2", "H1", "1.0");
    EXPECT_FALSE(catalog_->NeedsDownload("S1", 0));
    EXPECT_FALSE(catalog_->AnyNeedsDownload("S1"));
    EXPECT_FALSE(catalog_->NeedsDownload("S1", 2));
    EXPECT_FALSE(catalog_->NeedsDownload("S9", 0));

    // Four bytes short: its whole length equals the image size, but it is incomplete,
    // so it is kept for the download to resume.
    const std::string shortFile = StoredImage(kImageA).substr(0, kImageA.size());
    store_.Write("a.bin", shortFile);
    EXPECT_TRUE(catalog_->NeedsDownload("S1", 0));
    EXPECT_EQ(store_.Read("a.bin"), shortFile);

    // Complete but damaged: deleted, and the entry no longer stores it.
    std::string damaged = StoredImage(kImageB);
    damaged[100] = 'X';
    store_.Write("b.bin", damaged);
    EXPECT_TRUE(catalog_->AnyNeedsDownload("S1"));
    EXPECT_FALSE(Exists("b.bin"));
    EXPECT_EQ(catalog_->Series()[0].Entries[1].StoredFilename, "");
    EXPECT_FALSE(catalog_->AllImagesStored("S1"));
    std::string path;
    EXPECT_FALSE(catalog_->GetStoredPath("S1", 1, path));
}

TEST_F(CatalogTest, LatestStoredFirmwareForADevice) {
    LoadAndMerge({Record("S1", "Other", "9.9", "o.bin", kImageA),
                  Record("S2", "Kelvaron-71xR", "1.9", "k19.bin", kImageA, "KT-710Rq"),
                  Record("S2", "Kelvaron-71xR", "1.10", "k110.bin", kImageB, "KT-710Rq"),
                  Record("S3", "Kelvaron-71xR", "2.0", "k20.bin", kImageC, "KT-710Rq")});
    for (const char* file : {"o.bin", "k19.bin", "k110.bin", "k20.bin"}) Store(file, kImageA);
    catalog_->MarkDownloaded("S1", "Other", "H1", "9.9");
    catalog_->MarkDownloaded("S2", "Kelvaron-71xR", "H1", "1.9");
    catalog_->MarkDownloaded("S2", "Kelvaron-71xR", "H1", "1.10");
    catalog_->MarkDownloaded("S3", "Kelvaron-71xR", "H1", "2.0");

    std::vector<std::string> versions;
    std::vector<std::string> paths;
    // The device reports its model as product name; the first series that fits wins,
    // its versions in byte order.
    ASSERT_TRUE(
        catalog_->FindLatestFirmware("Kelvaron-71xR", "H1", "Kelvaron-71xR", versions, paths));
    EXPECT_EQ(versions, (std::vector<std::string>{"1.10", "1.9"}));
    EXPECT_EQ(paths, (std::vector<std::string>{store_.File("k110.bin"), store_.File("k19.bin")}));
    ASSERT_TRUE(catalog_->FindLatestFirmware("Kelvaron-71xR", "H1", "KT-710Rq", versions, paths));
    EXPECT_EQ(versions.size(), 2u);

    EXPECT_FALSE(catalog_->FindLatestFirmware("Kelvaron-71xR", "H2", "KT-710Rq", versions, paths));
    EXPECT_TRUE(versions.empty() && paths.empty());
    EXPECT_FALSE(
        catalog_->FindLatestFirmware("Kelvaron-35xV", "H1", "Kelvaron-35xV", versions, paths));
    EXPECT_TRUE(catalog_->FindLatestFirmware("Other", "H1", "Other", versions, paths));
}

TEST_F(CatalogTest, SizesParametersAndSubstitutedProducts) {
    LoadAndMerge({Record("S1", "M1", "1.0", "a b.bin", kImageA),
                  Record("S1", "M2", "1.0", "a b.bin", kImageA),
                  Record("S1", "M3", "1.0", "c.bin", kImageC),
                  Record("S2", "Kelvaron-35xV", "1.0", "k.bin", kImageB, "KT-350Vq")});
    EXPECT_EQ(catalog_->SeriesTotalSize("S1"), 1700);  // each file counted once
    EXPECT_EQ(catalog_->SeriesTotalSize("S9"), 0);
    EXPECT_EQ(catalog_->CountImages("S9"), 0);
    EXPECT_FALSE(catalog_->AllImagesStored("S1"));
    EXPECT_FALSE(catalog_->AllImagesStored("S9"));

    CFirmwareDownloadParams p;
    ASSERT_TRUE(catalog_->GetDownloadParams("S1", 0, p));
    EXPECT_EQ(p.URL, "http://127.0.0.1:9/a%20b.bin");
    EXPECT_EQ(p.LocalPath, store_.File("a b.bin"));
    EXPECT_EQ(p.MD5, Md5Of(kImageA));
    EXPECT_EQ(p.Size, 1000);
    EXPECT_FALSE(catalog_->GetDownloadParams("S1", 3, p));

    Store("k.bin", kImageB);
    catalog_->MarkDownloaded("S2", "Kelvaron-35xV", "H1", "1.0");
    std::vector<std::string> versions;
    std::vector<std::string> paths;
    EXPECT_TRUE(
        catalog_->FindLatestFirmware("Kelvaron-35xV", "H1", "Kelvaron-35xV", versions, paths));
    EXPECT_EQ(versions, std::vector<std::string>{"1.0"});
}

TEST(FileMd5Test, HashesTheBodyAfterTheHeaderLikeMd5sum) {
    TempDir dir;
    std::string body;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) body += static_cast<char>(i * 31 % 256);
    dir.Write("body", body);
    dir.Write("image", StoredImage(body));
    const ProcessResult md5sum = RunProcess({"md5sum", dir.File("body")}, std::chrono::seconds(10));
    ASSERT_EQ(md5sum.ExitCode, 0);
    std::string md5;
    ASSERT_TRUE(ComputeFileMD5(dir.File("image"), md5));
    EXPECT_EQ(md5, md5sum.Output.substr(0, 32));

    dir.Write("header-only", StoredImage(""));
    ASSERT_TRUE(ComputeFileMD5(dir.File("header-only"), md5));
    EXPECT_EQ(md5, "d41d8cd98f00b204e9800998ecf8427e");
    dir.Write("short", "abc");
    EXPECT_FALSE(ComputeFileMD5(dir.File("short"), md5));
    EXPECT_FALSE(ComputeFileMD5(dir.File("missing"), md5));
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(ComputeFileMD5(dir.File("image"), md5, &cancel));
}

}  // namespace
