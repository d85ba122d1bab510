#pragma once

#include <QHeaderView>
#include <QTableView>
#include <functional>

#include "ui/list_model.h"

// The lists' header: a fixed height and centred captions. A click on a section is the
// list's to handle (check-all or sort), never the view's own.
class CHeaderCtrlEx final : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int kHeight = 28;
    explicit CHeaderCtrlEx(QWidget* parent);

protected:
    // A heading with a check state (the check column's) carries a box showing it.
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

// The list control every page uses: rows of (field id, text), a check column whose
// header checks or unchecks every checkable row, a password cell edited in place, and
// sorting by a header click with the comparison the field id calls for.
class CBasicListCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CBasicListCtrl(QWidget* parent = nullptr);

    // Columns: headings and widths, left to right. With `fit`, widths that together
    // exceed the list's room shrink in proportion, so that every column shows without
    // scrolling sideways. Without it they are kept, and the list scrolls sideways: for
    // lists with more columns than the room can show legibly.
    enum class Fit { ToRoom, Scroll };
    void SetColumns(const QStringList& headings, const std::vector<int>& widths,
                    Fit fit = Fit::ToRoom);
    // The rows and the password editors in `face` at the default size; the header
    // keeps the default GUI font.
    void SetFonts(const QString& face);
    void SetPromptText(const QString& prompt) { model_.SetPromptText(prompt); }
    // What a row's password cell shows once the row has passed its check.
    void SetPassText(const QString& pass) { passText_ = pass; }

    int InsertRow(int id, const QString& text) { return model_.AppendRow(id, text); }
    // Whole rows at once, for long lists; the index of the first.
    int InsertRows(std::vector<CListRow> rows) { return model_.AppendRows(std::move(rows)); }
    // FindRow by this field is answered from an index, for long lists.
    void IndexField(int id) { model_.IndexField(id); }
    void AddField(int row, int id, const QString& text) { model_.AddField(row, id, text); }
    bool AddHiddenField(int row, int id, const QString& text) {
        return model_.AddHiddenField(row, id, text);
    }
    void SetField(int row, int id, const QString& text) { model_.SetField(row, id, text); }
    QString GetField(int row, int id) const { return model_.GetField(row, id); }
    int FindRow(int id, const QString& text) const { return model_.FindRow(id, text); }
    bool IsChecked(int row) const { return model_.IsChecked(row); }
    // Select All and Cancel All: every row's box, without the permission rule a click
    // passes; rows for which `keep` holds are left as they are.
    void SetAllChecks(bool checked, const std::function<bool(int row)>& keep = {});
    void DeleteAllRows() { model_.DeleteAllRows(); }
    void SetPasswordPassed(int row) { model_.SetPasswordText(row, passText_); }
    void SetPasswordText(int row, const QString& text) { model_.SetPasswordText(row, text); }
    void SetCheckable(int row, bool checkable) { model_.SetCheckable(row, checkable); }
    void SetCellPrompt(int row, const QString& prompt) { model_.SetCellPrompt(row, prompt); }
    void SetUpToDate(int row, bool upToDate) { model_.SetUpToDate(row, upToDate); }
    void DeleteRow(int row) { model_.DeleteRow(row); }
    int RowCount() const { return model_.rowCount(); }
    CListModel& Model() { return model_; }

    // A click on the header section: check-all on the check column, else a sort with
    // the direction turned round.
    void HeaderClicked(int column);

signals:
    void CheckChanged(int row);   // 555
    void HeaderCheckClicked();    // 5555
    void PasswordTyped(int row);  // 32788

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitColumns();

    CListModel model_;
    CHeaderCtrlEx header_;
    std::vector<int> widths_;  // as the page asked for them
    Fit fit_ = Fit::ToRoom;
    QString passText_ = QStringLiteral("Passed");
    int direction_ = 0;
};

// The device and schedule lists: grey rows that cannot be chosen, orange rows with a
// remembered password, grey text for a password of an unreachable device, and status
// colours on the schedule's rows.
class CCameraListCtrl final : public CBasicListCtrl {
    Q_OBJECT
public:
    explicit CCameraListCtrl(QWidget* parent = nullptr);
    static CListModel::CellColours Colours(const CListRow& row, int column);
};
