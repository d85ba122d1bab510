#include "ui/data_folder.h"

#include <QDir>
#include <QFileInfo>

QString FindDataFolder(const QString& programFolder) {
    const QDir program(programFolder);
    const QString installed = QDir::cleanPath(program.filePath("../share/strelvane"));
    for (const QString& folder : {program.absolutePath(), installed}) {
        if (QFileInfo::exists(QDir(folder).filePath("Layout_EN.ini"))) return folder;
    }
    return program.absolutePath();
}
