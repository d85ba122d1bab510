#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    SettingsPaths Paths(const std::string& program = "/opt/strelvane/bin/strelvane") const {
        return SettingsPaths{dir_.File("config/strelvane/settings.conf"),
                             dir_.File("etc/strelvane/settings.conf"),
                             dir_.File("config/autostart/strelvane.desktop"), program};
    }
    std::string Store() const { return dir_.Read("config/strelvane/settings.conf"); }
    void WriteStore(const std::string& text) const {
        std::filesystem::create_directories(dir_.File("config/strelvane"));
        dir_.Write("config/strelvane/settings.conf", text);
    }
    bool HasRunEntry() const {
        return std::filesystem::exists(dir_.File("config/autostart/strelvane.desktop"));
    }

    TempDir dir_;
};

TEST_F(SettingsTest, WithoutAStoreDefaultsStandAndTheFirstStartCreatesIt) {
    CSettings settings(Paths(), "zh_TW.UTF-8");
    std::vector<int> applied;
    settings.SetLanguageApplier([&](int id) { applied.push_back(id); });

    // Before the first start there is no store: the settings page's Save stores and
    // applies nothing...
    EXPECT_FALSE(settings.SaveSetting("LangID", "2052"));
    EXPECT_FALSE(settings.SaveSetting("AutoStart", "1"));
    EXPECT_TRUE(applied.empty());
    EXPECT_FALSE(HasRunEntry());
    EXPECT_FALSE(std::filesystem::exists(Paths().UserStore));

    // ...the first start creates it (no installer does), leaving the defaults; a
    // temporary file a killed save left behind goes.
    std::filesystem::create_directories(dir_.File("config/strelvane"));
    dir_.Write("config/strelvane/settings.conf.tmp.999999999.AbCdEf", "LangID=1");
    settings.LoadSettings();
    EXPECT_EQ(Store(), "");
    EXPECT_FALSE(
        std::filesystem::exists(dir_.File("config/strelvane/settings.conf.tmp.999999999.AbCdEf")));
    EXPECT_EQ(settings.LanguageId(), 1028);
    EXPECT_FALSE(settings.AutoStart());
    EXPECT_FALSE(settings.IsExitModeSet());
    EXPECT_EQ(settings.ReadStorageFolder(), "");
    EXPECT_EQ(settings.ReadServerUrl(), "");
    EXPECT_FALSE(settings.AutoCheckHour().has_value());

    // The tray item and the Setting page's box both store the value and write the entry.
    EXPECT_TRUE(settings.SetAutoStart(true));
    EXPECT_TRUE(settings.AutoStart());
    EXPECT_TRUE(HasRunEntry());
    EXPECT_TRUE(settings.AutoStartEntryExists());
    EXPECT_TRUE(settings.SaveSetting("LangID", "2052"));
    EXPECT_EQ(applied, std::vector<int>{2052});
    settings.SaveAutoCheckHour(3);
    EXPECT_EQ(settings.AutoCheckHour(), 3);
    EXPECT_EQ(Store(), "AutoStart=1\nLangID=2052\nAutoCheck=3\n");

    CSettings reread(Paths(), "zh_TW.UTF-8");
    reread.LoadSettings();
    EXPECT_EQ(reread.LanguageId(), 2052);
    EXPECT_TRUE(reread.AutoStart());
    EXPECT_TRUE(reread.AutoStartEntryExists());
    EXPECT_FALSE(reread.AutoCheckHour().has_value());  // written, never read back
}

TEST_F(SettingsTest, ValuesAreReadOnlyAsShortStringsWithADecimalParse) {
    struct Case {
        std::string Stored;
        int Language;
    } cases[] = {
        {"LangID=abc\n", 0},                                        // no leading digits
        {"LangID=1036xyz\n", 1036}, {"LangID=1234567\n", 1234567},  // 7 characters still fit
        {"LangID=12345678\n", 17},                                  // 8 do not: the default stays
        {"LangID=\xff\xfe\n", 17},                                  // not a string value
        {"langid = 1037 \n", 1037},  // names ignore case, blanks do not count
        {"LangID=\nLangID=2\n", 0},  // the first line of a name holds the value
        {"# LangID=2\n", 17},
    };
    for (const Case& c : cases) {
        WriteStore(c.Stored);
        CSettings settings(Paths(), "ja_JP.UTF-8");
        settings.LoadSettings();
        EXPECT_EQ(settings.LanguageId(), c.Language) << c.Stored;
    }
    for (auto [stored, on] : {std::pair{"AutoStart=0", false},
                              {"AutoStart=2", true},
                              {"AutoStart=-1", true},
                              {"AutoStart=yes", false}}) {
        WriteStore(std::string(stored) + "\n");
        CSettings settings(Paths(), "C");
        settings.LoadSettings();
        EXPECT_EQ(settings.AutoStart(), on) << stored;
    }
}

TEST_F(SettingsTest, ADamagedStoreReadsAsDefaultsAndKeepsItsOtherLinesOnWrite) {
    const std::string damaged = std::string("\x01\x02garbage without equals\n=orphan value\n") +
                                std::string("Lang\0ID=5\n", 10) + "LangID=\xc3\x28\n";
    WriteStore(damaged);
    CSettings settings(Paths(), "fr_FR");
    settings.LoadSettings();
    EXPECT_EQ(settings.LanguageId(), 1036);
    EXPECT_FALSE(settings.AutoStart());

    EXPECT_TRUE(settings.SaveSetting("LangID", "9"));
    EXPECT_EQ(Store(),
              std::string(damaged).replace(damaged.find("LangID=\xc3\x28"), 9, "LangID=9"));
    settings.LoadSettings();
    EXPECT_EQ(settings.LanguageId(), 9);

    // A value that would break the file is refused; the file stays as it was.
    const std::string before = Store();
    EXPECT_FALSE(settings.SaveSetting("Storage", "/a\nLangID=2"));
    EXPECT_EQ(Store(), before);
    // So is a name the file could not give back: each write would add another line.
    for (const std::string& name :
         {std::string("Lang\0ID", 7), std::string("A=B"), std::string("#A"), std::string(" A")}) {
        EXPECT_FALSE(settings.SaveSetting(name, "3")) << name;
        EXPECT_EQ(Store(), before) << name;
    }
}

TEST_F(SettingsTest, AutoStartSettingWritesAndRemovesTheAutostartEntry) {
    WriteStore("");
    CSettings settings(Paths("/opt/My Tools/strelvane"), "C");
    EXPECT_TRUE(settings.SaveSetting("AutoStart", "1"));
    ASSERT_TRUE(HasRunEntry());
    const std::string entry = dir_.Read("config/autostart/strelvane.desktop");
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"/opt/My Tools/strelvane\" -auto\n"), std::string::npos);
    EXPECT_NE(entry.find("\nName=Strelvane\n"), std::string::npos);

    EXPECT_TRUE(settings.SaveSetting("autostart", "0"));
    EXPECT_FALSE(HasRunEntry());
    EXPECT_FALSE(settings.RemoveRunEntry());  // nothing left to remove

    CSettings plain(Paths("/usr/bin/strelvane"), "C");
    EXPECT_TRUE(plain.AddRunEntry());
    EXPECT_NE(
        dir_.Read("config/autostart/strelvane.desktop").find("\nExec=/usr/bin/strelvane -auto\n"),
        std::string::npos);
    EXPECT_TRUE(plain.RemoveRunEntry());

    // Switched off, the entry goes and the value says so; an entry that cannot be
    // written is reported, and what exists is what the controls show.
    EXPECT_TRUE(plain.SetAutoStart(true));
    EXPECT_TRUE(plain.SetAutoStart(false));
    EXPECT_FALSE(HasRunEntry());
    EXPECT_FALSE(plain.AutoStartEntryExists());
    EXPECT_EQ(Store(), "AutoStart=0\n");
    std::filesystem::remove_all(dir_.File("config/autostart"));
    dir_.Write("config/autostart", "a file where the folder belongs");
    EXPECT_FALSE(plain.SetAutoStart(true));
    EXPECT_FALSE(plain.AutoStartEntryExists());
    EXPECT_EQ(Store(), "AutoStart=1\n");
}

TEST_F(SettingsTest, ExitModeIsAPresenceFlag) {
    CSettings settings(Paths(), "C");
    EXPECT_FALSE(settings.IsExitModeSet());
    settings.SetExitMode();  // creates the store when there is none
    EXPECT_TRUE(settings.IsExitModeSet());
    EXPECT_EQ(Store(), "EXIT_Mode=1\n");
    settings.ClearExitMode();
    EXPECT_FALSE(settings.IsExitModeSet());
    EXPECT_EQ(Store(), "");

    WriteStore("exit_mode=yes\n");  // any value that fits 16 bytes
    EXPECT_TRUE(settings.IsExitModeSet());
    WriteStore("EXIT_Mode=longer than 16 bytes\n");
    EXPECT_FALSE(settings.IsExitModeSet());
}

TEST_F(SettingsTest, StorageAndServerUrlAreReadForTheFirmwareStore) {
    WriteStore("Storage=/data/firmware store\n");
    std::filesystem::create_directories(dir_.File("etc/strelvane"));
    dir_.Write("etc/strelvane/settings.conf", "URL = http://127.0.0.1:8080/fw\n");
    CSettings settings(Paths(), "C");
    EXPECT_EQ(settings.ReadStorageFolder(), "/data/firmware store");
    EXPECT_EQ(settings.ReadServerUrl(), "http://127.0.0.1:8080/fw");

    WriteStore("Storage=/" + std::string(1023, 'x') + "\n");
    EXPECT_EQ(settings.ReadStorageFolder().size(), 1024u);
    WriteStore("Storage=/" + std::string(1024, 'x') + "\n");
    EXPECT_EQ(settings.ReadStorageFolder(), "");
}

// The proxy lives machine-wide beside URL, which it must leave alone; clearing the
// address clears the user too; a store that cannot be written says so.
TEST_F(SettingsTest, ProxyIsStoredMachineWideWithoutItsPassword) {
    std::filesystem::create_directories(dir_.File("etc/strelvane"));
    dir_.Write("etc/strelvane/settings.conf", "URL=http://127.0.0.1:8080\n");
    CSettings settings(Paths(), "C");
    ASSERT_TRUE(settings.SaveProxy("127.0.0.1:3128", "tech"));
    EXPECT_EQ(settings.ReadProxyAddress(), "127.0.0.1:3128");
    EXPECT_EQ(settings.ReadProxyUser(), "tech");
    EXPECT_EQ(settings.ReadServerUrl(), "http://127.0.0.1:8080");
    ASSERT_TRUE(settings.SaveProxy("127.0.0.1:8118", ""));
    EXPECT_EQ(settings.ReadProxyUser(), "");
    ASSERT_TRUE(settings.SaveProxy("", "tech"));
    EXPECT_EQ(settings.ReadProxyAddress(), "");
    EXPECT_EQ(dir_.Read("etc/strelvane/settings.conf"), "URL=http://127.0.0.1:8080\n");

    // A folder where the machine-wide file would be: nothing can be stored.
    std::filesystem::remove(dir_.File("etc/strelvane/settings.conf"));
    std::filesystem::create_directories(dir_.File("etc/strelvane/settings.conf"));
    EXPECT_FALSE(CSettings(Paths(), "C").SaveProxy("127.0.0.1:3128", "tech"));
}

TEST_F(SettingsTest, AStoreThatIsNoRegularFileIsNamedAndLeftAlone) {
    std::filesystem::create_directories(dir_.File("config/strelvane"));
    std::filesystem::create_directories(dir_.File("etc/strelvane/settings.conf"));
    ASSERT_EQ(::mkfifo(Paths().UserStore.c_str(), 0600), 0);
    // Reading a FIFO would wait for a writer for ever; every call here returns at once.
    CSettings settings(Paths(), "C");
    settings.LoadSettings();
    EXPECT_EQ(settings.LanguageId(), kEnglishLanguageId);
    EXPECT_EQ(settings.ReadStorageFolder(), "");
    EXPECT_FALSE(settings.IsExitModeSet());
    settings.SetExitMode();
    settings.SetAutoStart(true);
    const std::optional<CSettings::Unreadable> problem = settings.Problem();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->Text(),
              "the settings file " + Paths().UserStore + " cannot be read: not a regular file");
    // What is there stays: neither the first start nor a write puts a file in its place.
    struct stat st {};
    ASSERT_EQ(::stat(Paths().UserStore.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // With the user's store fixed, the machine-wide one (a folder here) is named.
    std::filesystem::remove(Paths().UserStore);
    ASSERT_TRUE(settings.Problem());
    EXPECT_EQ(settings.Problem()->File, Paths().SystemStore);
}

}  // namespace
