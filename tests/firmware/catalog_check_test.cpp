// The catalogue's server check against devsim's firmware server: its own thread, the
// order of notifications, failures and shut-down.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/result_codes.h"
#include "firmware/firmware_catalog.h"
#include "firmware/store_location.h"
#include "firmware_test_support.h"
#include "support/web_test_support.h"

namespace {

using namespace std::chrono_literals;

const std::string kImage = std::string(2000, 'i');

class CatalogCheckTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }

    std::unique_ptr<CFirmwareCatalog> Catalog(const std::string& base, bool online = true) {
        auto catalog =
            std::make_unique<CFirmwareCatalog>(store_.Path(), base, [online] { return online; });
        catalog->AddListener(&view_);
        view_.CallBackInto(catalog.get());
        return catalog;
    }

    TempDir server_;
    TempDir store_;
    RecordingView view_;
};

TEST_F(CatalogCheckTest, LoadReadsTheStoreThenMergesTheServerCatalogueOnItsThread) {
    store_.Write("old.bin", StoredImage(kImage));
    store_.Write("firmware.xml",
                 "<Firmwares><Firmware Series=\"Old\" Checked=\"1\" Model=\"M0\" HWVer=\"H1\" "
                 "FWVer=\"0.9\" Filename=\"old.bin\" MD5=\"" +
                     Md5Of(kImage) + "\" Size=\"2000\"/></Firmwares>");
    // A byte-order mark and stray bytes before the document are dropped.
    server_.Write(
        "Firmware_V2.xml",
        "\xEF\xBB\xBFjunk" + ServerCatalogText({Record("New", "M1", "1.0", "a.bin", kImage)}));
    FirmwareServerFixture server(server_);
    auto catalog = Catalog(server.Base());
    catalog->LoadCatalog();
    ASSERT_TRUE(view_.WaitFor("ready"));
    ASSERT_TRUE(WaitUntil([&] { return !catalog->IsCheckRunning(); }));
    EXPECT_EQ(catalog->LastCheckResult(), 0);
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"loading", "added Old 1", "added New 0",
                                                        "removed Old", "checked", "ready"}));
    EXPECT_EQ(catalog->SeriesNames(), std::vector<std::string>{"New"});
    EXPECT_EQ(server.RangesAskedFor("/Firmware_V2.xml"), std::vector<std::string>{"-"});
    // The superseded image went with its series; the change is saved at the end.
    EXPECT_FALSE(std::filesystem::exists(store_.File("old.bin")));
    catalog.reset();
    EXPECT_NE(store_.Read("firmware.xml").find("Series=\"New\""), std::string::npos);
}

TEST_F(CatalogCheckTest, FailedOrSkippedChecksChangeNothingButStillReport) {
    server_.Write("Firmware_V2.xml",
                  ServerCatalogText({Record("S1", "M1", "1.0", "a.bin", kImage)}));
    FirmwareServerFixture server(server_);

    // No network: no request at all.
    auto offline = Catalog(server.Base(), false);
    offline->LoadCatalog();
    ASSERT_TRUE(view_.WaitFor("ready"));
    ASSERT_TRUE(WaitUntil([&] { return !offline->IsCheckRunning(); }));
    EXPECT_EQ(offline->LastCheckResult(), rc::kCannotConnect);
    EXPECT_TRUE(server.RangesAskedFor("/Firmware_V2.xml").empty());
    EXPECT_TRUE(offline->SeriesNames().empty());

    // Nobody listening, and a missing catalogue on a server that answers.
    view_.Clear();
    auto refused = Catalog("http://127.0.0.1:" + std::to_string(ClosedPort()));
    EXPECT_EQ(refused->FetchServerCatalog(), rc::kCannotConnect);
    auto missing = Catalog(server.Base() + "/nothing-here");
    EXPECT_EQ(missing->FetchServerCatalog(), rc::kHttpNotFound);
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"checked", "ready", "checked", "ready"}));

    // Another process works on the store: nothing is merged, yet the check reports. Our
    // own hold on the store (the download page's) does not shut the check out.
    view_.Clear();
    {
        std::optional<CFileLock> other =
            CFileLock::TryAcquire(store_.File("firmware.xml.lock"), std::chrono::seconds(1));
        ASSERT_TRUE(other);
        EXPECT_EQ(Catalog(server.Base())->FetchServerCatalog(), kStoreBusy);
        EXPECT_EQ(view_.Events(), (std::vector<std::string>{"checked", "ready"}));
    }
    {
        const std::shared_ptr<const CFileLock> ours = LockStore(store_.Path());
        ASSERT_TRUE(ours);
        auto catalog = Catalog(server.Base());
        EXPECT_EQ(catalog->FetchServerCatalog(), 0);
        EXPECT_EQ(catalog->SeriesNames(), std::vector<std::string>{"S1"});
    }

    // Not well-formed: no notice at all, so the page stays disabled.
    view_.Clear();
    server_.Write("Firmware_V2.xml", "<FirmwareList><Firmware Series=\"S1\"");
    EXPECT_EQ(Catalog(server.Base())->FetchServerCatalog(), rc::kFailed);
    EXPECT_TRUE(view_.Events().empty());
}

TEST_F(CatalogCheckTest, DestroyingTheCatalogueStopsAStalledCheckAtOnce) {
    server_.Write("Firmware_V2.xml", ServerCatalogText({}));
    FirmwareServerFixture server(server_, "fault=delay:20000");
    auto catalog = Catalog(server.Base());
    catalog->StartServerCheck();
    ASSERT_TRUE(catalog->IsCheckRunning());
    // A second request while one runs starts nothing: the running one will report.
    catalog->StartServerCheck();
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    catalog.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(view_.Events().empty());
}

}  // namespace
