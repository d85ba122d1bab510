// The shipped layout files: every key the program reads is in the English file, every
// translation carries every section and key of the English file, keeps its placeholders
// and style records, and is really translated.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTest>

#include "layout/control_style.h"
#include "layout/layout_language.h"
#include "layout/layout_texts.h"
#include "ui/qt_text.h"
#include "ui_sandbox.h"

namespace {

using Sections = QMap<QString, QMap<QString, QString>>;

Sections ReadIni(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    Sections sections;
    QString section;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split('\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';')) continue;
        if (line.startsWith('[')) {
            section = line.mid(1, line.indexOf(']') - 1);
            sections[section];
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            sections[section][line.left(equals).trimmed()] = line.mid(equals + 1).trimmed();
    }
    return sections;
}

QString Placeholders(const QString& text) {
    QStringList found;
    QRegularExpressionMatchIterator it = QRegularExpression("%[sd]").globalMatch(text);
    while (it.hasNext()) found << it.next().captured();
    return found.join(',');
}

const int kTranslations[] = {1028, 2052, 17, 1036, 30, 33, 1037};

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A lookup written in the source: section, key and where.
struct Lookup {
    QString Section;
    QString Key;
    QString Where;
};

// Every lookup of the program's sources whose section and key are written out: calls
// naming both ("ErrorCode", "Code_406"), and a file's own texts and controls (PageText,
// Place, or a lookup in kSection), whose section is the page's or the file's kSection.
// A style section's key is the control's text key too.
QList<Lookup> LookupsInSources(const QString& folder) {
    static const QRegularExpression named(
        R"re(\b(?:ReadLayoutText|ReadControlStyle|Text|Say|lookup)\(\s*"([\w.]+)"\s*,\s*"(\w+)")re");
    static const QRegularExpression pageText(
        R"re(\b(?:PageText\(|(?:ReadLayoutText|Text|Say|lookup)\(\s*kSection\s*,)\s*"(\w+)")re");
    static const QRegularExpression placed(R"re(\bPlace\(\s*[\w.&*>-]+\s*,\s*"(\w+)")re");
    static const QRegularExpression pageSection(
        R"re((?:CPage\(\s*frame\s*,\s*|kSection\s*=\s*)"(\w+)")re");
    QList<Lookup> found;
    QDirIterator files(folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QString text = ReadText(path);
        const QString where = QDir(folder).relativeFilePath(path);
        auto add = [&](const QString& section, const QString& key) {
            found.append({section, key, where});
            if (section.endsWith(".Style")) found.append({section.section('.', 0, 0), key, where});
        };
        for (const QRegularExpressionMatch& m : named.globalMatch(text)) {
            add(m.captured(1), m.captured(2));
        }
        const QString section = pageSection.match(text).captured(1);
        if (section.isEmpty()) continue;
        for (const QRegularExpressionMatch& m : pageText.globalMatch(text)) {
            add(section, m.captured(1));
        }
        for (const QRegularExpressionMatch& m : placed.globalMatch(text)) {
            add(section + ".Style", m.captured(1));
        }
    }
    return found;
}

}  // namespace

class LayoutFilesTest : public QObject {
    Q_OBJECT
private slots:
    void everyKeyTheSourcesReadIsInTheEnglishFile() {
        const Sections english = ReadIni(QDir(STRELVANE_DATA_DIR).filePath("Layout_EN.ini"));
        const QList<Lookup> lookups = LookupsInSources(STRELVANE_SOURCE_DIR);
        QVERIFY2(lookups.size() > 150, qPrintable(QString::number(lookups.size())));
        QStringList missing;
        for (const Lookup& lookup : lookups) {
            if (!english.value(lookup.Section).contains(lookup.Key)) {
                missing << lookup.Where + ": [" + lookup.Section + "] " + lookup.Key;
            }
        }
        missing.removeDuplicates();
        QVERIFY2(missing.isEmpty(), qPrintable("not in Layout_EN.ini:\n" + missing.join('\n')));
    }

    void everyTranslationIsCompleteAndKeepsItsPlaceholders() {
        const QDir data(STRELVANE_DATA_DIR);
        const Sections english = ReadIni(data.filePath("Layout_EN.ini"));
        QVERIFY(english.size() >= 15);
        for (int language : kTranslations) {
            const QString name = ToQ(LayoutFileName(language));
            const Sections translated = ReadIni(data.filePath(name));
            // Every key of the English file, and no other: named, so a merge that left one
            // out says which.
            QStringList missing;
            QStringList extra;
            for (auto section = english.begin(); section != english.end(); ++section) {
                for (const QString& key : section->keys()) {
                    if (!translated.value(section.key()).contains(key)) {
                        missing << "[" + section.key() + "] " + key;
                    }
                }
            }
            for (auto section = translated.begin(); section != translated.end(); ++section) {
                for (const QString& key : section->keys()) {
                    if (!english.value(section.key()).contains(key)) {
                        extra << "[" + section.key() + "] " + key;
                    }
                }
            }
            QVERIFY2(missing.isEmpty(), qPrintable(name + " lacks " + missing.join(", ")));
            QVERIFY2(extra.isEmpty(),
                     qPrintable(name + " has keys English lacks: " + extra.join(", ")));
            int texts = 0;
            int changed = 0;
            for (auto section = english.begin(); section != english.end(); ++section) {
                const auto& mine = translated[section.key()];
                for (auto key = section->begin(); key != section->end(); ++key) {
                    const QString value = mine[key.key()];
                    const QString where = name + " " + section.key() + "/" + key.key();
                    QCOMPARE(Placeholders(value), Placeholders(*key));
                    if (section.key().endsWith(".Style")) {
                        QCOMPARE(value.split(',').size(), 7);
                        QVERIFY2(value.section(',', 2, 2).toInt() > 0, qPrintable(where));
                    } else if (!key->isEmpty() && section.key() != "Language") {
                        ++texts;
                        if (value != *key) ++changed;
                        QVERIFY2(!value.isEmpty(), qPrintable(where));
                    }
                }
            }
            QVERIFY2(changed * 10 >= texts * 9, qPrintable(name));
        }
    }

    void stylesReadBackThroughTheLookupWithTheirTexts() {
        CLayoutTexts texts(STRELVANE_DATA_DIR, 17);
        texts.SetFontsAdded(true, true);
        const ControlStyle search =
            texts.ReadControlStyle("Upgrade1Page.Style", "SearchButton", "");
        QVERIFY(search.Width > 0 && search.Height > 0 && search.FontSize > 0);
        QCOMPARE(search.FaceName, std::string("MS Gothic"));
        QVERIFY(!search.Text.empty() && search.Text != "Search");
        QCOMPARE(texts.LanguageId(), 17);
        // Without the stand-in faces every control is drawn in Arial.
        texts.SetFontsAdded(false, false);
        QCOMPARE(texts.ReadControlStyle("Upgrade1Page.Style", "SearchButton", "").FaceName,
                 std::string("Arial"));
    }
};

int main(int argc, char** argv) {
    UiSandbox sandbox;
    PrepareUiTestEnvironment(sandbox);
    LayoutFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "layout_files_test.moc"
