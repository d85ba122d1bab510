#include "ui/font_setup.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace {

const char* const kSourceHanSans = "Source Han Sans Medium";
const char* const kMsGothic = "MS Gothic";

QString CjkFaceFor(int languageId) {
    switch (languageId) {
        case 1028:
            return "Noto Sans CJK TC";
        case 17:
            return "Noto Sans CJK JP";
        default:
            return "Noto Sans CJK SC";
    }
}

void Substitute(const QString& family, const QStringList& faces) {
    QFont::removeSubstitutions(family);
    QFont::insertSubstitutions(family, faces);
}

QStringList WithScriptFaces(const QString& first) {
    return {first, "Noto Sans", "Noto Sans Thai", "Noto Sans Hebrew", "Liberation Sans"};
}

}  // namespace

PrivateFonts LoadPrivateFonts() {
    const QStringList families = QFontDatabase::families();
    PrivateFonts fonts;
    fonts.SourceHanSans = families.contains(CjkFaceFor(2052));
    fonts.MsGothic = families.contains(CjkFaceFor(17));
    Substitute("Arial", WithScriptFaces("Liberation Sans"));
    UseFontsFor(9);
    return fonts;
}

void UseFontsFor(int languageId) {
    Substitute(kSourceHanSans, WithScriptFaces(CjkFaceFor(languageId)));
    Substitute(kMsGothic, WithScriptFaces(CjkFaceFor(17)));
}
