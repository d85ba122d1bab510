// The shipped layout files: every translation carries every section and key of the
// English file, keeps its placeholders and style records, and is really translated.
#include <QDir>
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

}  // namespace

class LayoutFilesTest : public QObject {
    Q_OBJECT
private slots:
    void everyTranslationIsCompleteAndKeepsItsPlaceholders() {
        const QDir data(STRELVANE_DATA_DIR);
        const Sections english = ReadIni(data.filePath("Layout_EN.ini"));
        QVERIFY(english.size() >= 15);
        for (int language : kTranslations) {
            const QString name = ToQ(LayoutFileName(language));
            const Sections translated = ReadIni(data.filePath(name));
            QCOMPARE(QStringList(translated.keys()), QStringList(english.keys()));
            int texts = 0;
            int changed = 0;
            for (auto section = english.begin(); section != english.end(); ++section) {
                const auto& mine = translated[section.key()];
                QVERIFY2(mine.keys() == section->keys(),
                         qPrintable(name + " [" + section.key() + "]"));
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
