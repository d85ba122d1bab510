#include "settings/language_ids.h"

#include <gtest/gtest.h>

#include "scoped_env.h"

namespace {

int ProgramLanguageOfLocale(const char* locale) {
    return ProgramLanguageFor(WindowsLanguageOfLocale(locale));
}

TEST(LanguageIdsTest, LocalesMapToTheProgramLanguages) {
    EXPECT_EQ(ProgramLanguageOfLocale("zh_TW.UTF-8"), 1028);
    EXPECT_EQ(ProgramLanguageOfLocale("zh_CN.UTF-8"), 2052);
    EXPECT_EQ(ProgramLanguageOfLocale("zh_HK.UTF-8"), 9);
    EXPECT_EQ(ProgramLanguageOfLocale("zh_SG"), 9);
    EXPECT_EQ(ProgramLanguageOfLocale("zh"), 9);
    EXPECT_EQ(ProgramLanguageOfLocale("fr_FR.UTF-8"), 1036);
    EXPECT_EQ(ProgramLanguageOfLocale("fr_CA"), 1036);
    EXPECT_EQ(ProgramLanguageOfLocale("he_IL.UTF-8"), 1037);
    EXPECT_EQ(ProgramLanguageOfLocale("pt_PT.UTF-8"), 2070);
    EXPECT_EQ(ProgramLanguageOfLocale("pt_BR.UTF-8"), 2070);
    EXPECT_EQ(ProgramLanguageOfLocale("ar_EG.UTF-8"), 5121);
    EXPECT_EQ(ProgramLanguageOfLocale("ja_JP.eucJP"), 17);
    EXPECT_EQ(ProgramLanguageOfLocale("de_DE@euro"), 7);
    EXPECT_EQ(ProgramLanguageOfLocale("sr_RS@latin"), 26);
    EXPECT_EQ(ProgramLanguageOfLocale("id_ID"), 33);
    EXPECT_EQ(ProgramLanguageOfLocale("vi_VN"), 1066);
    EXPECT_EQ(ProgramLanguageOfLocale("hi_IN"), 1081);
    EXPECT_EQ(ProgramLanguageOfLocale("nb_NO.UTF-8"), 9);  // Norwegian has no layout
    EXPECT_EQ(ProgramLanguageOfLocale("C.UTF-8"), 9);
    EXPECT_EQ(ProgramLanguageOfLocale("POSIX"), 9);
    EXPECT_EQ(ProgramLanguageOfLocale(""), 9);
}

TEST(LanguageIdsTest, WindowsIdentifiersCarryTheSublanguage) {
    EXPECT_EQ(WindowsLanguageOfLocale("zh_TW"), 0x0404);
    EXPECT_EQ(WindowsLanguageOfLocale("zh_cn.GB2312"), 0x0804);
    EXPECT_EQ(WindowsLanguageOfLocale("pt_BR"), 0x0416);
    EXPECT_EQ(WindowsLanguageOfLocale("pt_PT"), 0x0816);
    EXPECT_EQ(WindowsLanguageOfLocale("en_US"), 0x0409);
    EXPECT_EQ(WindowsLanguageOfLocale("xx_YY"), 0);
}

TEST(LanguageIdsTest, SystemLocaleFollowsThePosixPrecedence) {
    ScopedEnv env;
    env.Set("LC_ALL", std::nullopt);
    env.Set("LC_MESSAGES", "fr_FR.UTF-8");
    env.Set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(SystemLocaleName(), "fr_FR.UTF-8");
    env.Set("LC_ALL", "he_IL.UTF-8");
    EXPECT_EQ(SystemLocaleName(), "he_IL.UTF-8");
    env.Set("LC_ALL", "");
    env.Set("LC_MESSAGES", std::nullopt);
    EXPECT_EQ(SystemLocaleName(), "de_DE.UTF-8");
}

}  // namespace
