#pragma once

#include <string>
#include <string_view>

// Language identifiers are Windows language identifiers (primary language in the low
// 10 bits, sublanguage above): they name the layout file (layout/) and are what the
// settings store keeps under LangID.

constexpr int kEnglishLanguageId = 9;

// The locale the system runs in: the first non-empty of LC_ALL, LC_MESSAGES and LANG.
std::string SystemLocaleName();

// The Windows language identifier (primary | sublanguage << 10) of a POSIX locale name
// such as "zh_TW.UTF-8"; 0 for a language without one.
int WindowsLanguageOfLocale(std::string_view locale);

// The program's language for a system language identifier: one of the languages it
// has texts for, else English.
int ProgramLanguageFor(int windowsLanguage);
