#pragma once

#include <QHeaderView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>
#include <QTimer>
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
// sorting by a header click with the comparison the field id calls for. Whatever the
// page's own fields mean (which rows may be ticked, cell colours) the page tells it.
// Every column stays readable: a heading is never cut, a cell too narrow for its text
// elides it with the whole text as tooltip, and columns that cannot share the room are
// reached by scrolling sideways. Enter never leaves the list: it edits the focused row's
// password. Screen readers tick rows and type passwords through its accessible table.
class CBasicListCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CBasicListCtrl(QWidget* parent = nullptr);

    // Columns: headings and widths, left to right; no column is narrower than its
    // heading. With `ToRoom`, widths that together exceed the list's room shrink in
    // proportion (down to their headings), so that every column shows at once. With
    // `Scroll` they are kept and grow to their widest text (up to a limit), and the list
    // scrolls sideways: for lists with more columns than the room can show legibly.
    enum class Fit { ToRoom, Scroll };
    void SetColumns(const QStringList& headings, const std::vector<int>& widths,
                    Fit fit = Fit::ToRoom);
    // The page's rules for its own fields: which rows the user may tick (empty: all)
    // and the colours of its cells (empty: the view's own).
    void SetRules(CListModel::TickRule tick, CListModel::Colouring colours);
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
    void RenameTexts(const QHash<QString, QString>& renamed, const std::vector<int>& ids) {
        model_.RenameTexts(renamed, ids);
    }
    int RowCount() const { return model_.rowCount(); }
    CListModel& Model() { return model_; }

    // The first column of the row that can be edited (the password); -1 when none.
    int EditableColumn(int row) const;
    // Makes the cell current and opens its editor.
    void EditCell(const QModelIndex& index);
    // The editor open now and the cell it edits; null and invalid when none is.
    QWidget* OpenEditor() const { return editor_; }
    QModelIndex EditedCell() const { return editor_ ? QModelIndex(edited_) : QModelIndex(); }
    // The password delegate reports the editor it made.
    void EditorOpened(QWidget* editor, const QModelIndex& index);

    // A click on the header section: check-all on the check column, else a sort with
    // the direction turned round.
    void HeaderClicked(int column);

signals:
    void CheckChanged(int row);   // 555
    void HeaderCheckClicked();    // 5555
    void PasswordTyped(int row);  // 32788

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FitColumns();
    // The narrowest a column may be: its heading whole (for the check column, its box).
    int LeastWidth(int column) const;

    CListModel model_;
    CHeaderCtrlEx header_;
    std::vector<int> widths_;  // as the page asked for them
    Fit fit_ = Fit::ToRoom;
    QTimer refit_;  // a scrolling list follows its texts, once per burst of changes
    QString passText_ = QStringLiteral("Passed");
    int direction_ = 0;
    QPointer<QWidget> editor_;
    QPersistentModelIndex edited_;
};

// The device and schedule lists: the generic list with their page's rules.
using CCameraListCtrl = CBasicListCtrl;
