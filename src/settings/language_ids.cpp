#include "settings/language_ids.h"

#include <cstdlib>

#include "base/text.h"

namespace {

struct LocaleLanguage {
    std::string_view Code;  // ISO 639-1 (and the old codes glibc still knows)
    int Primary;
};

// Windows primary language numbers of the languages the program may meet.
constexpr LocaleLanguage kPrimaryLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04}, {"cs", 0x05}, {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0a}, {"fi", 0x0b}, {"fr", 0x0c},
    {"he", 0x0d}, {"iw", 0x0d}, {"hu", 0x0e}, {"is", 0x0f}, {"it", 0x10}, {"ja", 0x11},
    {"ko", 0x12}, {"nl", 0x13}, {"nb", 0x14}, {"nn", 0x14}, {"no", 0x14}, {"pl", 0x15},
    {"pt", 0x16}, {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19}, {"hr", 0x1a}, {"sr", 0x1a},
    {"bs", 0x1a}, {"sk", 0x1b}, {"sq", 0x1c}, {"sv", 0x1d}, {"th", 0x1e}, {"tr", 0x1f},
    {"ur", 0x20}, {"id", 0x21}, {"in", 0x21}, {"uk", 0x22}, {"be", 0x23}, {"sl", 0x24},
    {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"fa", 0x29}, {"vi", 0x2a}, {"hy", 0x2b},
    {"az", 0x2c}, {"eu", 0x2d}, {"mk", 0x2f}, {"af", 0x36}, {"ka", 0x37}, {"fo", 0x38},
    {"hi", 0x39}, {"ms", 0x3e}, {"kk", 0x3f}, {"sw", 0x41},
};

struct RegionSublanguage {
    std::string_view Code;
    std::string_view Territory;
    int Sublanguage;
};

// Sublanguages that change the outcome or the file (Chinese script, Portuguese region).
// A language with a territory not listed gets the default sublanguage 1; without a
// territory, the neutral 0.
constexpr RegionSublanguage kSublanguages[] = {
    {"zh", "TW", 1}, {"zh", "CN", 2}, {"zh", "HK", 3}, {"zh", "SG", 4},
    {"zh", "MO", 5}, {"pt", "BR", 1}, {"pt", "PT", 2},
};

struct ProgramLanguage {
    int Primary;
    int Result;
};

// The languages the program has layout texts for. Chinese is decided by sublanguage.
constexpr ProgramLanguage kProgramLanguages[] = {
    {1, 5121},  {2, 2},   {5, 5},   {6, 6},   {7, 7},     {8, 8},     {10, 10},   {12, 1036},
    {13, 1037}, {16, 16}, {17, 17}, {18, 18}, {19, 19},   {21, 21},   {22, 2070}, {25, 25},
    {26, 26},   {30, 30}, {31, 31}, {33, 33}, {42, 1066}, {57, 1081},
};

}  // namespace

std::string SystemLocaleName() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

int WindowsLanguageOfLocale(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    size_t underscore = locale.find('_');
    std::string code = ToLowerAscii(locale.substr(0, underscore));
    std::string territory =
        underscore == std::string_view::npos ? "" : ToUpperAscii(locale.substr(underscore + 1));
    for (const LocaleLanguage& language : kPrimaryLanguages) {
        if (language.Code != code) continue;
        int sublanguage = territory.empty() ? 0 : 1;
        for (const RegionSublanguage& region : kSublanguages) {
            if (region.Code == code && region.Territory == territory) {
                sublanguage = region.Sublanguage;
            }
        }
        return language.Primary | (sublanguage << 10);
    }
    return 0;
}

int ProgramLanguageFor(int windowsLanguage) {
    const int primary = windowsLanguage & 0x3ff;
    const int sublanguage = windowsLanguage >> 10;
    if (primary == 4) return sublanguage == 1 ? 1028 : sublanguage == 2 ? 2052 : kEnglishLanguageId;
    for (const ProgramLanguage& language : kProgramLanguages) {
        if (language.Primary == primary) return language.Result;
    }
    return kEnglishLanguageId;
}
