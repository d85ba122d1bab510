#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>
#include <functional>
#include <optional>
#include <vector>

#include "ui/list_row.h"
#include "ui/row_index.h"

// The rows of a list control as a table model: views show the cells, the check box of
// the check column (field 14) and the password field (6) as an editable cell, and
// screen readers read every row and cell. What the page's own fields mean (which rows
// may be ticked, how cells are coloured) the page tells it through rules.
class CListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Colours of a cell, decided by the list kind; empty: the view's own.
    struct CellColours {
        std::optional<QColor> Text;
        std::optional<QColor> Background;
    };
    using Colouring = std::function<CellColours(const CListRow& row, int column)>;
    // Whether the user may tick or untick the row; a refused change leaves it unticked.
    using TickRule = std::function<bool(const CListRow& row)>;

    explicit CListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void SetHeadings(const QStringList& headings);
    void SetColouring(Colouring colouring) { colouring_ = std::move(colouring); }
    void SetTickRule(TickRule rule) { tickRule_ = std::move(rule); }
    // What an empty password cell shows, and what a passed one shows.
    void SetPromptText(const QString& prompt) { prompt_ = prompt; }
    QString PromptText() const { return prompt_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // The check column's heading carries the header box's state (Qt::CheckStateRole):
    // checked while every checkable row is.
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Sorts with CompareRows (stable: rows that compare equal keep their order) and
    // renumbers field 1.
    void sort(int column, Qt::SortOrder order) override;

    int AppendRow(int id, const QString& text);
    // Appends whole rows at once (one insertion for the views, however many rows); the
    // index of the first.
    int AppendRows(std::vector<CListRow> rows);
    // FindRow by this field goes through an index (CRowIndex).
    void IndexField(int id) { index_.SetField(id); }
    void AddField(int row, int id, const QString& text);
    bool AddHiddenField(int row, int id, const QString& text);
    void SetField(int row, int id, const QString& text);
    QString GetField(int row, int id) const;
    int FindRow(int id, const QString& text) const;
    bool IsChecked(int row) const;
    void DeleteAllRows();
    void SetPasswordText(int row, const QString& text);
    void SetCheckable(int row, bool checkable);
    void SetCellPrompt(int row, const QString& prompt);
    void SetUpToDate(int row, bool upToDate);
    // Removes one row; the others keep their fields (their numbers too).
    void DeleteRow(int row);
    // A language switch: every text of the fields `ids`, and every cell prompt, that
    // reads as a key of `renamed` reads as its value from now on.
    void RenameTexts(const QHash<QString, QString>& renamed, const std::vector<int>& ids);
    const CListRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
    bool HasCheckColumn() const { return hasCheckColumn_; }

    // The header's check box: checks every checkable row, or unchecks them all when
    // every one is checked already (or none is checkable).
    void ToggleAllChecks();

signals:
    // A permitted change of a row's check box by the user (555).
    void CheckChanged(int row);
    // The user finished typing a password into a row (32788).
    void PasswordTyped(int row);

private:
    void CellChanged(int row, int column);
    // Row `r` gained the indexed field.
    void NoteIndexed(int r, const QString& text);
    // True when there is a checkable row and every one is checked.
    bool AllCheckableChecked() const;

    std::vector<CListRow> rows_;
    mutable CRowIndex index_;
    QStringList headings_;
    QString prompt_;
    Colouring colouring_;
    TickRule tickRule_;
    bool hasCheckColumn_ = false;
};
