#pragma once

#include <array>

#include "ui/list_ctrl.h"

// Field ids of the firmware list's rows.
namespace firmware_field {
constexpr int kStatus = 12;
constexpr int kSeries = 15;  // rows are found by their series name
}  // namespace firmware_field

// The download page's list: a row per firmware series (check box, number, series,
// status), the status texts the page writes into it, and the colour of a series whose
// images are all stored and newest.
class CFirmwareListCtrl final : public CBasicListCtrl {
    Q_OBJECT
public:
    enum Status { kLatest, kOlder, kWaiting, kStop, kFinish, kNetworkBreak, kFileIsNotExist };
    static constexpr size_t kStatusCount = 7;

    explicit CFirmwareListCtrl(QWidget* parent = nullptr);

    // Texts used from now on; a cell that shows one of the old texts shows the new one.
    void SetStatusTexts(const std::array<QString, kStatusCount>& texts);
    const QString& StatusText(Status status) const { return texts_[status]; }

    // Appends a series' row: checked or not, numbered after the rows there are, no status.
    int AppendSeries(const QString& series, bool checked);
    int FindSeries(const QString& series) const { return FindRow(firmware_field::kSeries, series); }
    QString SeriesAt(int row) const { return GetField(row, firmware_field::kSeries); }
    // Writes the status cell, unless `text` is empty; the row counts as up to date exactly
    // while it shows the Latest text.
    void SetStatus(int row, const QString& text);

    static CListModel::CellColours Colours(const CListRow& row, int column);

private:
    std::array<QString, kStatusCount> texts_;
};
