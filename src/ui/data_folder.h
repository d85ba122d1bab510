#pragma once

#include <QString>

// The folder the program's data (layout files) is read from: the program's own folder
// when it holds the English layout file (a build tree, an unpacked copy), else
// <program folder>/../share/strelvane (an installed package), else the program folder,
// where every text then takes its built-in default.
QString FindDataFolder(const QString& programFolder);
