#pragma once

#include <QHash>
#include <QString>
#include <vector>

#include "ui/list_row.h"

// Finds a list's row by the text of one field (a page's device key) without walking
// every row: a list of thousands of devices is looked up for every check result and
// every progress report. Built on first use and rebuilt after anything that moves rows
// or changes that field; rows appended meanwhile are added as they come.
class CRowIndex {
public:
    // The field looked up through the index; -1 (the default): none.
    void SetField(int id) {
        id_ = id;
        Invalidate();
    }
    int Field() const { return id_; }

    void Invalidate() { valid_ = false; }
    // Row `r` (the last one) gained the indexed field with `text`.
    void Appended(int r, const QString& text);
    // The first row whose indexed field holds `text`, or -1.
    int Find(const std::vector<CListRow>& rows, const QString& text);

private:
    int id_ = -1;
    bool valid_ = false;
    QHash<QString, int> rows_;  // text -> first row holding it
};
