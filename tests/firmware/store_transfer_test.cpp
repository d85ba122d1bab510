// Carrying the store on a stick: what an import takes, skips and refuses, that nothing
// the store held is lost or altered on the way, and that an export imports as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "firmware/firmware_catalog.h"
#include "firmware/store_transfer.h"
#include "firmware_test_support.h"

namespace {

const std::string kGood = std::string(3000, 'g');
const std::string kOld = std::string(2000, 'o');
const std::string kNewer = std::string(2100, 'n');
const std::string kOther = std::string(1200, 'x');
const std::string kShared = std::string(900, 's');

class StoreTransferTest : public ::testing::Test {
protected:
    std::unique_ptr<CFirmwareCatalog> Catalog(const TempDir& store) {
        auto catalog = std::make_unique<CFirmwareCatalog>(store.Path(), "", [] { return false; });
        EXPECT_TRUE(catalog->ReadLocalCatalog());
        return catalog;
    }

    std::vector<TransferLine> Import(const TempDir& store, const TempDir& folder, int& result) {
        std::vector<TransferLine> lines;
        TransferHooks hooks;
        hooks.Line = [&](const TransferLine& line) { lines.push_back(line); };
        TransferCounts counts;
        std::string error;
        result = ImportStore(*Catalog(store), folder.Path(), hooks, counts, error);
        return lines;
    }

    // Every file of the folder and its bytes, to tell that nothing changed.
    static std::map<std::string, std::string> Files(const TempDir& dir) {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename().string();
            if (name != "firmware.xml.lock") files[name] = dir.Read(name);
        }
        return files;
    }

    TempDir store_;
    TempDir stick_;
};

TEST_F(StoreTransferTest, ImportTakesOnlyVerifiedImagesAndKeepsWhatTheStoreHolds) {
    // The store holds M2 at 2.0 (newer than the stick's 1.0), M3 at 1.0 (the stick
    // brings 1.1) and an image named taken.bin for M5.
    {
        auto catalog = Catalog(store_);
        store_.Write("m2-20.bin", StoredImage(kNewer));
        store_.Write("m3-10.bin", StoredImage(kOld));
        store_.Write("taken.bin", StoredImage(kOther));
        ASSERT_TRUE(catalog->RecordImported(Record("S1", "M2", "2.0", "m2-20.bin", kNewer)));
        ASSERT_TRUE(catalog->RecordImported(Record("S1", "M3", "1.0", "m3-10.bin", kOld)));
        ASSERT_TRUE(catalog->RecordImported(Record("S2", "M5", "1.0", "taken.bin", kOther)));
    }
    const std::string tampered = std::string(kGood).replace(100, 1, "X");
    CatalogRecord escape = Record("S1", "M9", "1.0", "../escape.bin", kGood);
    std::vector<CatalogRecord> records = {
        Record("S1", "M1", "1.0", "good.bin", kGood),
        Record("S1", "M2", "1.0", "m2-10.bin", kOld),
        Record("S1", "M3", "1.1", "m3-11.bin", kGood),
        Record("S1", "M4", "1.0", "tampered.bin", kGood),
        Record("S1", "M6", "1.0", "short.bin", kGood),
        Record("S1", "M7", "1.0", "absent.bin", kGood),
        Record("S3", "M8", "1.0", "taken.bin", kGood),
        escape,
        Record("S4", "M1", "1.0", "good.bin", kGood),  // one image for a second series
    };
    stick_.Write("Firmware_V2.xml", ServerCatalogText(records));
    stick_.Write("good.bin", kGood);
    stick_.Write("m2-10.bin", kOld);
    stick_.Write("m3-11.bin", kGood);
    stick_.Write("tampered.bin", tampered);
    stick_.Write("short.bin", kGood.substr(0, 2500));
    stick_.Write("taken.bin", kGood);
    const auto stickBefore = Files(stick_);

    int result = 1;
    const std::vector<TransferLine> lines = Import(store_, stick_, result);
    ASSERT_EQ(result, 0);
    struct Expected {
        TransferOutcome Outcome;
        TransferReason Reason;
        std::string Text;
    };
    const std::vector<Expected> expected = {
        {TransferOutcome::Taken, TransferReason::None, ""},
        {TransferOutcome::Skipped, TransferReason::StoreIsNewer,
         "the store holds the newer version 2.0"},
        {TransferOutcome::Taken, TransferReason::None, ""},
        {TransferOutcome::Refused, TransferReason::WrongMd5,
         "the bytes do not match the catalogue's MD5 (altered or damaged)"},
        {TransferOutcome::Refused, TransferReason::WrongSize,
         "the file has 2500 bytes, the catalogue says 3000 (truncated or damaged)"},
        {TransferOutcome::Refused, TransferReason::Missing, "the image file is missing"},
        {TransferOutcome::Refused, TransferReason::NameTaken,
         "the store holds a different image under this file name"},
        {TransferOutcome::Refused, TransferReason::BadRecord,
         "the catalogue names no usable file, size or MD5 for it"},
        {TransferOutcome::Taken, TransferReason::None, ""},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].File);
        EXPECT_EQ(lines[i].Outcome, expected[i].Outcome);
        EXPECT_EQ(lines[i].Reason, expected[i].Reason);
        EXPECT_EQ(TransferReasonText(lines[i]), expected[i].Text);
    }

    // The stick is only read; refused images left no trace; the stored ones are intact
    // except M3's old image, replaced by its newer one.
    EXPECT_EQ(Files(stick_), stickBefore);
    std::set<std::string> names;
    for (const auto& [name, bytes] : Files(store_)) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"firmware.xml", "good.bin", "m2-20.bin", "m3-11.bin",
                                            "taken.bin"}));
    EXPECT_EQ(store_.Read("good.bin"), StoredImage(kGood));
    EXPECT_EQ(store_.Read("taken.bin"), StoredImage(kOther));
    EXPECT_EQ(store_.Read("m2-20.bin"), StoredImage(kNewer));
    EXPECT_FALSE(std::filesystem::exists("/escape.bin"));

    // A later run reads what was recorded, and a second import changes nothing.
    std::vector<std::string> versions;
    std::vector<std::string> paths;
    ASSERT_TRUE(Catalog(store_)->FindLatestFirmware("M3", "H1", "M3", versions, paths));
    EXPECT_EQ(versions, std::vector<std::string>{"1.1"});
    const auto storeBefore = Files(store_);
    int taken = 0;
    for (const TransferLine& line : Import(store_, stick_, result)) {
        taken += line.Outcome == TransferOutcome::Taken ? 1 : 0;
    }
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(Files(store_), storeBefore);
}

TEST_F(StoreTransferTest, ExportedStoreImportsIntoAnEmptyOneAndNoFolderIsItsOwnStore) {
    {
        auto catalog = Catalog(store_);
        ASSERT_TRUE(catalog->ParseServerCatalog(ServerCatalogText(
            {Record("S1", "M1", "1.0", "a.bin", kGood), Record("S1", "M2", "1.0", "s.bin", kShared),
             Record("S2", "M3", "1.0", "s.bin", kShared),
             Record("S2", "M4", "1.0", "never.bin", kOther)})));
        store_.Write("a.bin", StoredImage(kGood));
        store_.Write("s.bin", StoredImage(kShared));
        catalog->MarkDownloaded("S1", "M1", "H1", "1.0");
        catalog->MarkDownloaded("S1", "M2", "H1", "1.0");
    }
    TransferHooks hooks;
    std::vector<std::string> outcomes;
    hooks.Line = [&](const TransferLine& line) {
        outcomes.push_back(line.File + " " + OutcomeWord(line.Outcome));
    };
    TransferCounts counts;
    std::string error;
    ASSERT_EQ(ExportStore(*Catalog(store_), stick_.Path() + "/stick", hooks, counts, error), 0)
        << error;
    // One copy of the shared image; the image never downloaded is not named.
    EXPECT_EQ(outcomes, (std::vector<std::string>{"a.bin taken", "s.bin taken", "s.bin skipped"}));
    const std::string folder = stick_.Path() + "/stick/";
    EXPECT_EQ(stick_.Read("stick/a.bin"), kGood);
    EXPECT_EQ(stick_.Read("stick/manifest.tsv"),
              "file\tsize\tmd5\tseries\tversion\n"
              "a.bin\t3000\t" +
                  Md5Of(kGood) +
                  "\tS1\t1.0\n"
                  "s.bin\t900\t" +
                  Md5Of(kShared) +
                  "\tS1\t1.0\n"
                  "s.bin\t900\t" +
                  Md5Of(kShared) + "\tS2\t1.0\n");

    TempDir empty;
    TransferCounts imported;
    auto target = Catalog(empty);
    ASSERT_EQ(ImportStore(*target, folder, {}, imported, error), 0);
    EXPECT_EQ(imported.Taken, 3);
    EXPECT_EQ(empty.Read("a.bin"), StoredImage(kGood));
    std::vector<std::string> versions;
    std::vector<std::string> paths;
    EXPECT_TRUE(target->FindLatestFirmware("M3", "H1", "M3", versions, paths));

    EXPECT_EQ(ImportStore(*target, empty.Path(), {}, imported, error), kSameFolder);
    EXPECT_EQ(ExportStore(*target, empty.Path(), {}, imported, error), kSameFolder);
    EXPECT_EQ(ImportStore(*target, store_.Path(), {}, imported, error), kNoCarriedCatalog);
}

}  // namespace
