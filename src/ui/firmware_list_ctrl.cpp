#include "ui/firmware_list_ctrl.h"

CFirmwareListCtrl::CFirmwareListCtrl(QWidget* parent) : CBasicListCtrl(parent) {
    Model().SetColouring(&CFirmwareListCtrl::Colours);
}

int CFirmwareListCtrl::AppendSeries(const QString& series, bool checked) {
    const int row = InsertRow(field::kCheck, checked ? QStringLiteral("1") : QStringLiteral("0"));
    AddField(row, field::kNumber, QString::number(row + 1));
    AddField(row, firmware_field::kSeries, series);
    AddField(row, firmware_field::kStatus, QString());
    return row;
}

void CFirmwareListCtrl::SetStatusTexts(const std::array<QString, kStatusCount>& texts) {
    QHash<QString, QString> renamed;
    for (size_t i = 0; i < kStatusCount; ++i) {
        if (!texts_[i].isEmpty() && texts_[i] != texts[i]) renamed.insert(texts_[i], texts[i]);
    }
    texts_ = texts;
    RenameTexts(renamed, {firmware_field::kStatus});
}

void CFirmwareListCtrl::SetStatus(int row, const QString& text) {
    if (row < 0 || text.isEmpty()) return;
    SetField(row, firmware_field::kStatus, text);
    // A row drawn as up to date while its cell says Older or shows a download would
    // tell the user two different things.
    SetUpToDate(row, text == texts_[kLatest]);
}

CListModel::CellColours CFirmwareListCtrl::Colours(const CListRow& row, int) {
    static const QColor kUpToDate(217, 166, 0);
    CListModel::CellColours colours;
    if (row.UpToDate) colours.Background = kUpToDate;
    return colours;
}
