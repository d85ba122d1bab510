#include <gtest/gtest.h>

#include <filesystem>

#include "scoped_env.h"
#include "settings/settings.h"
#include "settings/xdg_folders.h"
#include "support/temp_dir.h"

namespace {

class FoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Set("HOME", dir_.File("home"));
        env_.Set("XDG_CONFIG_HOME", std::nullopt);
        env_.Set("XDG_CONFIG_DIRS", std::nullopt);
        std::filesystem::create_directories(dir_.File("home/.config"));
    }

    TempDir dir_;
    ScopedEnv env_;
};

TEST_F(FoldersTest, DocumentsFolderComesFromUserDirsOrDefaultsToHomeDocuments) {
    const std::string home = dir_.File("home");
    EXPECT_EQ(DocumentsFolder(), home + "/Documents");

    dir_.Write("home/.config/user-dirs.dirs",
               "# written by xdg-user-dirs-update\n"
               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
               "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(DocumentsFolder(), home + "/Dokumente");

    dir_.Write("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/my \\\"docs\\\"\"\n");
    EXPECT_EQ(DocumentsFolder(), "/srv/my \"docs\"");

    // Relative or unquoted values are not valid: the default stands.
    dir_.Write("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"Documents\"\n");
    EXPECT_EQ(DocumentsFolder(), home + "/Documents");

    // XDG_CONFIG_HOME decides where user-dirs.dirs is read from.
    env_.Set("XDG_CONFIG_HOME", dir_.File("cfg"));
    std::filesystem::create_directories(dir_.File("cfg"));
    dir_.Write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME\"\n");
    EXPECT_EQ(DocumentsFolder(), home);
}

TEST_F(FoldersTest, DefaultPathsFollowTheXdgFolders) {
    SettingsPaths paths = DefaultSettingsPaths();
    EXPECT_EQ(paths.UserStore, dir_.File("home/.config/strelvane/settings.conf"));
    EXPECT_EQ(paths.AutostartEntry, dir_.File("home/.config/autostart/strelvane.desktop"));
    EXPECT_EQ(paths.SystemStore, "/etc/xdg/strelvane/settings.conf");
    EXPECT_EQ(paths.ProgramPath, ProgramPath());
    EXPECT_FALSE(paths.ProgramPath.empty());

    // The machine-wide file is the first one that exists along XDG_CONFIG_DIRS.
    std::filesystem::create_directories(dir_.File("sys2/strelvane"));
    dir_.Write("sys2/strelvane/settings.conf", "URL=http://127.0.0.1:8080\n");
    env_.Set("XDG_CONFIG_DIRS", dir_.File("sys1") + ":relative:" + dir_.File("sys2"));
    env_.Set("XDG_CONFIG_HOME", dir_.File("cfg"));
    paths = DefaultSettingsPaths();
    EXPECT_EQ(paths.SystemStore, dir_.File("sys2/strelvane/settings.conf"));
    EXPECT_EQ(paths.UserStore, dir_.File("cfg/strelvane/settings.conf"));
    EXPECT_EQ(CSettings(paths, "C").ReadServerUrl(), "http://127.0.0.1:8080");
}

}  // namespace
