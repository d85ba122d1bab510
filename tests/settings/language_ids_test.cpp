#include "settings/language_ids.h"

#include <gtest/gtest.h>

#include "scoped_env.h"

namespace {

TEST(LanguageIdsTest, LocalesMapToTheProgramLanguages) {
    const std::pair<const char*, int> cases[] = {
        {"zh_TW.UTF-8", 1028},
        {"zh_CN.GB2312", 2052},
        {"zh_HK.UTF-8", 9},
        {"zh", 9},
        {"fr_FR.UTF-8", 1036},
        {"he_IL.UTF-8", 1037},
        {"pt_PT", 2070},
        {"pt_BR", 2070},
        {"ar_EG", 5121},
        {"de_DE@euro", 7},
        {"sr_RS@latin", 26},
        {"vi_VN", 1066},
        {"nb_NO.UTF-8", 9},
        {"C.UTF-8", 9},
        {"", 9},
    };
    for (auto [locale, language] : cases) {
        EXPECT_EQ(ProgramLanguageFor(WindowsLanguageOfLocale(locale)), language) << locale;
    }
}

TEST(LanguageIdsTest, SystemLocaleFollowsThePosixPrecedence) {
    ScopedEnv env;
    env.Set("LC_ALL", "");
    env.Set("LC_MESSAGES", "fr_FR.UTF-8");
    env.Set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(SystemLocaleName(), "fr_FR.UTF-8");
    env.Set("LC_ALL", "he_IL.UTF-8");
    EXPECT_EQ(SystemLocaleName(), "he_IL.UTF-8");
}

}  // namespace
