#include "schedule/schedule_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "base/utf16.h"

#include "schedule_test_support.h"
#include "support/temp_dir.h"

namespace {

namespace st = schedule_status;

const char* const kHeader =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<PLAYER_SETTING Version=\"0.1\">\n"
    "<NODE dis=\"Schedule\">";

TEST(ScheduleFileTest, WritesTheExactFileText) {
    CScheduleInfo second = StoredEntry("AA:BB:CC:DD:EE:FF", -5, 2);  // queued is written as waiting
    second.Https = true;
    second.Port = "443";
    second.TotalBytes = 100;  // upload fields are not written
    second.SentBytes = 50;
    second.UploadResult = -406;
    const std::string expected =
        std::string(kHeader) +
        "\n\t<NVR IP=\"10.0.0.5\" Port=\"80\" Https=\"0\" Account=\"admin\" Password=\"pass1\" "
        "Device=\"Lobby NVR\" Model=\"NVR-1600\" MAC=\"00:11:22:33:44:55\" Version=\"V1.2.3\" "
        "FWPath=\"/fw/nvr.bin\" Status=\"9\" UpgradeTime=\"1700000000\" />"
        "\n\t<NVR IP=\"10.0.0.5\" Port=\"443\" Https=\"1\" Account=\"admin\" Password=\"pass1\" "
        "Device=\"Lobby NVR\" Model=\"NVR-1600\" MAC=\"AA:BB:CC:DD:EE:FF\" Version=\"V1.2.3\" "
        "FWPath=\"/fw/nvr.bin\" Status=\"1\" UpgradeTime=\"-5\" />"
        "\n</NODE>\n</PLAYER_SETTING>";

    TempDir dir;
    const std::string path = ScheduleFilePath(dir.File("Documents"));
    EXPECT_EQ(path, dir.File("Documents/Strelvane/fw_config.xml"));
    ASSERT_TRUE(SaveSchedule(path, {StoredEntry("00:11:22:33:44:55", 1700000000, 9), second}));
    EXPECT_EQ(dir.Read("Documents/Strelvane/fw_config.xml"), expected);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds device passwords

    ASSERT_TRUE(SaveSchedule(path, {}));
    EXPECT_EQ(dir.Read("Documents/Strelvane/fw_config.xml"),
              std::string(kHeader) + "\n</NODE>\n</PLAYER_SETTING>");
}

TEST(ScheduleFileTest, RoundTripKeepsEverythingButQueuedAndUploadFields) {
    TempDir dir;
    const std::string path = dir.File("fw_config.xml");
    std::vector<CScheduleInfo> entries;
    for (int status = 0; status <= 9; ++status) {
        entries.push_back(
            StoredEntry("MAC-" + std::to_string(status), 1700000000 + status, status));
    }
    entries[3].Https = true;
    entries[4].TotalBytes = 10;
    entries[4].SentBytes = 5;
    entries[4].UploadResult = -1;
    entries[5].Password = "p\"<&'>\t\n\r\xE5\xAF\x86 x";  // escaped, then read back unchanged
    entries[6].FWPath = "/home/user/Firmware & Co/<new> \"v2\".bin";
    entries[7].UpgradeTime = 4102444800;  // 2100-01-01, beyond 32 bits
    entries[8].UpgradeTime = -4102444800;
    entries[9].Until = "05:30";  // the end of its window
    entries.push_back(StoredEntry("MAC-10", 1700000010, st::kPastWindow));
    entries.back().Until = "04:00";
    ASSERT_TRUE(SaveSchedule(path, entries));

    std::vector<CScheduleInfo> expected = entries;
    expected[2].Status = 1;
    expected[4].TotalBytes = expected[4].SentBytes = expected[4].UploadResult = 0;
    EXPECT_EQ(LoadSchedule(path), expected);

    const std::string text = dir.Read("fw_config.xml");
    EXPECT_NE(text.find("Password=\"p&quot;&lt;&amp;'>&#9;&#10;&#13;\xE5\xAF\x86 x\""),
              std::string::npos);
    EXPECT_NE(text.find("UpgradeTime=\"4102444800\""), std::string::npos);
    // Only the entries with a window carry the attribute, after all the others.
    EXPECT_NE(text.find("UpgradeTime=\"1700000009\" Until=\"05:30\" />"), std::string::npos);
    EXPECT_EQ(text.find("Until="), text.find("Until=\"05:30\""));
    EXPECT_EQ(ReadScheduleFile(path).DropsSomething, false);
}

TEST(ScheduleFileTest, OnlyACameraCarriesItsServiceAndReadsItBack) {
    TempDir dir;
    const std::string path = dir.File("fw_config.xml");
    CScheduleInfo camera = StoredEntry("00:1A:2B:3C:4D:5E", 1700000000, 1);
    camera.OnvifService = "/onvif/device_service";
    const CScheduleInfo maker = StoredEntry("00:11:22:33:44:55", 1700000000, 1);
    ASSERT_TRUE(SaveSchedule(path, {maker, camera}));
    const std::string text = dir.Read("fw_config.xml");
    EXPECT_NE(text.find("UpgradeTime=\"1700000000\" OnvifService=\"/onvif/device_service\" />"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("OnvifService"), text.rfind("OnvifService"));  // the maker's has none
    const ScheduleFileRead read = ReadScheduleFile(path);
    EXPECT_EQ(read.Entries, (std::vector<CScheduleInfo>{maker, camera}));
    EXPECT_FALSE(read.DropsSomething);
}

TEST(ScheduleFileTest, LoadAppliesTheAcceptanceRules) {
    const std::string complete =
        "IP=\"10.0.0.5\" Port=\"80\" Account=\"admin\" Password=\"pw\" Device=\"D\" "
        "Model=\"M\" Version=\"V1\" FWPath=\"/fw.bin\" UpgradeTime=\"1700000000\"";
    TempDir dir;
    dir.Write(
        "fw_config.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<Anything>\n"
        "<NODE dis=\"Schedule\">\n"
        "\t<NVR " +
            complete +
            " MAC=\"A1\" Https=\"1\" Status=\"2\" />\n"
            "\t<nvr " +
            complete +
            " MAC=\"A2\" Https=\"true\" Status=\"3\" />\n"
            "\t<NVR2 " +
            complete +
            " MAC=\"A3\" Status=\"7\" />\n"
            "\t<Camera " +
            complete +
            " MAC=\"B1\" />\n"
            "\t<NVR " +
            complete +
            " MAC=\"\" />\n"
            "\t<NVR IP=\"10.0.0.5\" Port=\"80\" Account=\"admin\" Password=\"pw\" Device=\"D\" "
            "Model=\"M\" FWPath=\"/fw.bin\" UpgradeTime=\"1700000000\" MAC=\"B2\" />\n"
            "\t<NVR IP=\"10.0.0.5\" Port=\"80\" Account=\"admin\" Password=\"pw\" Device=\"D\" "
            "Model=\"M\" Version=\"V1\" FWPath=\"/fw.bin\" UpgradeTime=\"0\" MAC=\"B3\" />\n"
            "\t<NVR IP=\"10.0.0.5\" Port=\"80\" Account=\"admin\" Password=\"pw\" Device=\"D\" "
            "Model=\"M\" Version=\"V1\" FWPath=\"/fw.bin\" UpgradeTime=\"soon\" MAC=\"B4\" />\n"
            // Too large to read: once wrapped to 1 (1970), a start at once.
            "\t<NVR IP=\"10.0.0.5\" Port=\"80\" Account=\"admin\" Password=\"pw\" Device=\"D\" "
            "Model=\"M\" Version=\"V1\" FWPath=\"/fw.bin\" UpgradeTime=\"18446744073709551617\" "
            "MAC=\"B9\" />\n"
            "\t<NVR " +
            complete +
            " mac=\"B5\" />\n"
            "</NODE>\n"
            "<NODE dis=\"Other\"><NVR " +
            complete +
            " MAC=\"B6\" /></NODE>\n"
            "<node dis=\"Schedule\"><NVR " +
            complete +
            " MAC=\"B7\" /></node>\n"
            "<NODE dis=\"my SCHEDULE list\"><NVR " +
            complete +
            " MAC=\"A4\" Status=\"x\" />"
            "<x:NVR xmlns:x=\"urn:x\" " +
            complete +
            " MAC=\"A5\" Status=\"9\" /></NODE>\n"
            "<NVR " +
            complete +
            " MAC=\"B8\" />\n"
            "</Anything>");
    std::vector<CScheduleInfo> loaded = LoadSchedule(dir.File("fw_config.xml"));
    std::vector<std::string> macs;
    for (const CScheduleInfo& e : loaded) macs.push_back(e.MAC);
    EXPECT_EQ(macs, (std::vector<std::string>{"A1", "A2", "A3", "A4", "A5"}));
    ASSERT_EQ(loaded.size(), 5u);
    EXPECT_TRUE(loaded[0].Https);
    EXPECT_EQ(loaded[0].Status, 2);  // a hand-written 2 loads as written
    EXPECT_FALSE(loaded[1].Https);   // only "1" means https
    EXPECT_EQ(loaded[1].Status, 3);  // an upgrade cut off by the program's end stays
    EXPECT_EQ(loaded[2].Status, 7);
    EXPECT_EQ(loaded[3].Status, 0);  // non-numeric
    EXPECT_EQ(loaded[4].Status, 9);
    EXPECT_EQ(loaded[4].UpgradeTime, 1700000000);
}

TEST(ScheduleFileTest, AMalformedFileLoadsEmptyAndIsLeftAloneUntilTheNextSave) {
    TempDir dir;
    const std::string path = dir.File("fw_config.xml");
    EXPECT_TRUE(LoadSchedule(path).empty());  // missing
    const std::string broken =
        std::string(kHeader) + "\n\t<NVR IP=\"1\" Password=\"a\"b\" />\n</NODE>\n</PLAYER_SETTING>";
    for (const std::string& bytes :
         {broken, std::string("not xml at all"), std::string(), std::string(kHeader)}) {
        dir.Write("fw_config.xml", bytes);
        EXPECT_TRUE(LoadSchedule(path).empty()) << bytes;
        EXPECT_EQ(dir.Read("fw_config.xml"), bytes);
    }
    ASSERT_TRUE(SaveSchedule(path, {StoredEntry("00:11:22:33:44:55", 1700000000, 1)}));
    EXPECT_EQ(LoadSchedule(path).size(), 1u);
}

TEST(ScheduleFileTest, DeviceTextsFromTheNetworkNeverMakeTheFileUnreadable) {
    TempDir dir;
    const std::string path = dir.File("fw_config.xml");
    CScheduleInfo e = StoredEntry("00:11:22:33:44:55", 1700000000, 1);
    e.Device = std::string("Gate\xff\x01\x1b[0m\tN\xef\xbf\xbe\xc3\xa9\0x", 19);
    e.Model = "M\xc0\xafo";  // an overlong slash
    ASSERT_TRUE(SaveSchedule(path, {e}));
    // Well-formed for every XML reader, not only for our lenient one.
    const std::string text = dir.Read("fw_config.xml");
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_EQ(
        std::count_if(
            text.begin(), text.end(),
            [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t'; }),
        0);
    const std::vector<CScheduleInfo> loaded = LoadSchedule(path);
    ASSERT_EQ(loaded.size(), 1u);
    // Malformed bytes read as U+FFFD; control characters XML forbids are gone; the tab
    // and well-formed characters stay.
    EXPECT_EQ(loaded[0].Device, "Gate\xef\xbf\xbd[0m\tN\xc3\xa9x");
    EXPECT_EQ(loaded[0].Model, "M\xef\xbf\xbd\xef\xbf\xbdo");
}

}  // namespace
