#include "ui/row_index.h"

void CRowIndex::Appended(int r, const QString& text) {
    // The first row with a text wins, as a walk from the top would find it.
    if (valid_ && !rows_.contains(text)) rows_.insert(text, r);
}

int CRowIndex::Find(const std::vector<CListRow>& rows, const QString& text) {
    if (!valid_) {
        rows_.clear();
        for (size_t r = 0; r < rows.size(); ++r) {
            const int at = rows[r].IndexOf(id_);
            if (at >= 0 && !rows_.contains(rows[r].Texts[static_cast<size_t>(at)])) {
                rows_.insert(rows[r].Texts[static_cast<size_t>(at)], static_cast<int>(r));
            }
        }
        valid_ = true;
    }
    return rows_.value(text, -1);
}
