#pragma once

// The layout files name the faces "Source Han Sans Medium", "MS Gothic" and "Arial". The
// program ships no font files: it maps those names onto the system's packaged faces
// (Noto Sans CJK is the Source Han Sans design; Liberation Sans has Arial's metrics),
// followed by the Thai and Hebrew Noto faces for the scripts CJK faces lack.

struct PrivateFonts {
    bool MsGothic = false;       // a face stands in for "MS Gothic"
    bool SourceHanSans = false;  // a face stands in for "Source Han Sans Medium"
};

// Installs the mappings; call once a QGuiApplication exists.
PrivateFonts LoadPrivateFonts();

// Chinese and Japanese share code points but not glyph shapes: the CJK face follows
// the language.
void UseFontsFor(int languageId);
