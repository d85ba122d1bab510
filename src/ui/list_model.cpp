#include "ui/list_model.h"

#include <algorithm>

namespace {

constexpr QChar kMaskChar{0x2022};

bool IsCheckText(const QString& text) { return text == QStringLiteral("1"); }

}  // namespace

void CListModel::SetHeadings(const QStringList& headings) {
    headings_ = headings;
    emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columnCount() - 1));
}

int CListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
}

QVariant CListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const CListRow& row = rows_[static_cast<size_t>(index.row())];
    const int column = index.column();
    if (column >= row.Shown) return {};
    const int id = row.Ids[static_cast<size_t>(column)];
    const QString& text = row.Texts[static_cast<size_t>(column)];
    switch (role) {
        case Qt::DisplayRole:
            if (id == field::kCheck) return {};
            if (id == field::kPassword && !row.PasswordShown) {
                if (!row.CellPrompt.isEmpty()) return row.CellPrompt;
                return text.isEmpty() ? prompt_ : QString(text.size(), kMaskChar);
            }
            return text;
        case Qt::ToolTipRole:
            // The whole text of a cell too narrow for it; never a password.
            return id == field::kCheck || id == field::kPassword ? QVariant() : QVariant(text);
        case Qt::EditRole:
            return id == field::kPassword ? text : QVariant();
        case Qt::AccessibleTextRole:
            if (id == field::kCheck) return {};
            if (id == field::kPassword && !row.PasswordShown && text.isEmpty()) return prompt_;
            return id == field::kPassword && !row.PasswordShown ? QString(text.size(), kMaskChar)
                                                                : text;
        case Qt::CheckStateRole:
            if (id != field::kCheck) return {};
            return IsCheckText(text) ? Qt::Checked : Qt::Unchecked;
        case Qt::ForegroundRole:
        case Qt::BackgroundRole: {
            if (!colouring_) return {};
            const CellColours colours = colouring_(row, column);
            const std::optional<QColor>& colour =
                role == Qt::ForegroundRole ? colours.Text : colours.Background;
            return colour ? QVariant(*colour) : QVariant();
        }
        default:
            return {};
    }
}

Qt::ItemFlags CListModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= rowCount()) return Qt::NoItemFlags;
    const CListRow& row = rows_[static_cast<size_t>(index.row())];
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() >= row.Shown) return flags;
    const int id = row.Ids[static_cast<size_t>(index.column())];
    if (id == field::kCheck && row.Checkable) flags |= Qt::ItemIsUserCheckable;
    if (id == field::kPassword && !row.PasswordShown) flags |= Qt::ItemIsEditable;
    return flags;
}

bool CListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= rowCount()) return false;
    const int r = index.row();
    CListRow& row = rows_[static_cast<size_t>(r)];
    if (index.column() >= row.Shown) return false;
    const size_t column = static_cast<size_t>(index.column());
    const int id = row.Ids[column];
    if (role == Qt::CheckStateRole && id == field::kCheck) {
        if (!row.Checkable) return false;
        const bool checked = value.toInt() == Qt::Checked;
        if (tickRule_ && !tickRule_(row)) {
            row.Texts[column] = QStringLiteral("0");
            CellChanged(r, index.column());
            return false;
        }
        row.Texts[column] = checked ? QStringLiteral("1") : QStringLiteral("0");
        CellChanged(r, index.column());
        emit CheckChanged(r);
        return true;
    }
    if (role == Qt::EditRole && id == field::kPassword && !row.PasswordShown) {
        row.Texts[column] = value.toString();
        CellChanged(r, index.column());
        emit PasswordTyped(r);
        return true;
    }
    return false;
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= headings_.size()) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return headings_[section];
    if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignCenter);
    if (role == Qt::CheckStateRole && section == 0 && hasCheckColumn_) {
        return AllCheckableChecked() ? Qt::Checked : Qt::Unchecked;
    }
    return {};
}

bool CListModel::AllCheckableChecked() const {
    bool any = false;
    for (const CListRow& row : rows_) {
        if (!row.Checkable) continue;
        if (!IsCheckText(row.Text(field::kCheck))) return false;
        any = true;
    }
    return any;
}

void CListModel::sort(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<size_t> places(rows_.size());
    for (size_t i = 0; i < places.size(); ++i) places[i] = i;
    std::stable_sort(places.begin(), places.end(), [&](size_t a, size_t b) {
        const int result = order == Qt::AscendingOrder ? CompareRows(rows_[a], rows_[b], column)
                                                       : CompareRows(rows_[b], rows_[a], column);
        return result < 0;
    });
    std::vector<CListRow> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newPlace(rows_.size());
    for (size_t i = 0; i < places.size(); ++i) {
        newPlace[places[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[places[i]]));
    }
    rows_ = std::move(sorted);
    index_.Invalidate();
    for (size_t i = 0; i < rows_.size(); ++i) {
        const int at = rows_[i].IndexOf(field::kNumber);
        if (at >= 0) rows_[i].Texts[static_cast<size_t>(at)] = QString::number(i + 1);
    }
    QModelIndexList after;
    for (const QModelIndex& index : before) {
        after.append(this->index(newPlace[static_cast<size_t>(index.row())], index.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int CListModel::AppendRow(int id, const QString& text) {
    const int r = rowCount();
    beginInsertRows({}, r, r);
    CListRow row;
    row.Ids.push_back(id);
    row.Texts.push_back(text);
    row.Shown = 1;
    rows_.push_back(std::move(row));
    if (id == field::kCheck) hasCheckColumn_ = true;
    endInsertRows();
    if (id == field::kCheck) emit headerDataChanged(Qt::Horizontal, 0, 0);
    return r;
}

int CListModel::AppendRows(std::vector<CListRow> rows) {
    const int first = rowCount();
    if (rows.empty()) return first;
    bool check = false;
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (CListRow& row : rows) {
        check = check || row.Has(field::kCheck);
        const int at = row.IndexOf(index_.Field());
        if (at >= 0) index_.Appended(rowCount(), row.Texts[static_cast<size_t>(at)]);
        rows_.push_back(std::move(row));
    }
    hasCheckColumn_ = hasCheckColumn_ || check;
    endInsertRows();
    if (check) emit headerDataChanged(Qt::Horizontal, 0, 0);
    return first;
}

void CListModel::AddField(int r, int id, const QString& text) {
    if (r < 0 || r >= rowCount()) return;
    CListRow& row = rows_[static_cast<size_t>(r)];
    // Shown fields come before the hidden ones.
    const auto at = static_cast<std::ptrdiff_t>(row.Shown);
    row.Ids.insert(row.Ids.begin() + at, id);
    row.Texts.insert(row.Texts.begin() + at, text);
    ++row.Shown;
    if (id == field::kCheck) hasCheckColumn_ = true;
    if (id == index_.Field()) NoteIndexed(r, text);
    CellChanged(r, row.Shown - 1);
}

bool CListModel::AddHiddenField(int r, int id, const QString& text) {
    if (r < 0 || r >= rowCount()) return false;
    CListRow& row = rows_[static_cast<size_t>(r)];
    if (row.Has(id)) return false;
    row.Ids.push_back(id);
    row.Texts.push_back(text);
    if (id == index_.Field()) NoteIndexed(r, text);
    return true;
}

void CListModel::SetField(int r, int id, const QString& text) {
    if (r < 0 || r >= rowCount()) return;
    CListRow& row = rows_[static_cast<size_t>(r)];
    if (id == index_.Field()) index_.Invalidate();
    for (size_t i = 0; i < row.Ids.size(); ++i) {
        if (row.Ids[i] != id) continue;
        row.Texts[i] = text;
        if (static_cast<int>(i) < row.Shown) CellChanged(r, static_cast<int>(i));
    }
}

QString CListModel::GetField(int r, int id) const {
    if (r < 0 || r >= rowCount()) return {};
    const QString text = rows_[static_cast<size_t>(r)].Text(id);
    // A password cell that holds just its prompt holds nothing.
    if (id == field::kPassword && !prompt_.isEmpty() && text == prompt_) return {};
    return text;
}

int CListModel::FindRow(int id, const QString& text) const {
    if (id == index_.Field()) return index_.Find(rows_, text);
    for (size_t i = 0; i < rows_.size(); ++i) {
        const int at = rows_[i].IndexOf(id);
        if (at >= 0 && rows_[i].Texts[static_cast<size_t>(at)] == text) return static_cast<int>(i);
    }
    return -1;
}

bool CListModel::IsChecked(int r) const {
    return r >= 0 && r < rowCount() &&
           IsCheckText(rows_[static_cast<size_t>(r)].Text(field::kCheck));
}

void CListModel::DeleteAllRows() {
    beginResetModel();
    rows_.clear();
    index_.Invalidate();
    hasCheckColumn_ = false;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void CListModel::SetPasswordText(int r, const QString& text) {
    if (r < 0 || r >= rowCount()) return;
    CListRow& row = rows_[static_cast<size_t>(r)];
    row.EditorHidden = true;
    row.PasswordShown = true;
    SetField(r, field::kPassword, text);
}

void CListModel::SetCheckable(int r, bool checkable) {
    if (r < 0 || r >= rowCount()) return;
    rows_[static_cast<size_t>(r)].Checkable = checkable;
    emit dataChanged(index(r, 0), index(r, std::max(0, columnCount() - 1)));
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void CListModel::SetCellPrompt(int r, const QString& prompt) {
    if (r < 0 || r >= rowCount()) return;
    CListRow& row = rows_[static_cast<size_t>(r)];
    row.CellPrompt = prompt;
    const int at = row.IndexOf(field::kPassword);
    if (at >= 0 && at < row.Shown) CellChanged(r, at);
}

void CListModel::SetUpToDate(int r, bool upToDate) {
    if (r < 0 || r >= rowCount()) return;
    rows_[static_cast<size_t>(r)].UpToDate = upToDate;
    emit dataChanged(index(r, 0), index(r, std::max(0, columnCount() - 1)));
}

void CListModel::DeleteRow(int r) {
    if (r < 0 || r >= rowCount()) return;
    beginRemoveRows({}, r, r);
    rows_.erase(rows_.begin() + r);
    index_.Invalidate();
    endRemoveRows();
}

void CListModel::RenameTexts(const QHash<QString, QString>& renamed, const std::vector<int>& ids) {
    for (size_t r = 0; r < rows_.size(); ++r) {
        CListRow& row = rows_[r];
        for (size_t i = 0; i < row.Ids.size(); ++i) {
            if (std::find(ids.begin(), ids.end(), row.Ids[i]) == ids.end()) continue;
            const auto to = renamed.constFind(row.Texts[i]);
            if (to != renamed.constEnd()) row.Texts[i] = *to;
        }
        const auto prompt = renamed.constFind(row.CellPrompt);
        if (!row.CellPrompt.isEmpty() && prompt != renamed.constEnd()) row.CellPrompt = *prompt;
    }
    if (!rows_.empty()) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, std::max(0, columnCount() - 1)));
    }
}

void CListModel::ToggleAllChecks() {
    // With no checkable row this clears, as when every one is checked.
    bool anyUnchecked = false;
    for (const CListRow& row : rows_) {
        if (row.Checkable && !IsCheckText(row.Text(field::kCheck))) anyUnchecked = true;
    }
    const QString value = anyUnchecked ? QStringLiteral("1") : QStringLiteral("0");
    for (int r = 0; r < rowCount(); ++r) {
        if (rows_[static_cast<size_t>(r)].Checkable) SetField(r, field::kCheck, value);
    }
}

void CListModel::NoteIndexed(int r, const QString& text) {
    if (r + 1 == rowCount()) {
        index_.Appended(r, text);
    } else {
        index_.Invalidate();
    }
}

void CListModel::CellChanged(int row, int column) {
    if (column >= columnCount()) return;
    emit dataChanged(index(row, column), index(row, column));
    // The header's box shows whether every checkable row is checked.
    if (rows_[static_cast<size_t>(row)].Ids[static_cast<size_t>(column)] == field::kCheck) {
        emit headerDataChanged(Qt::Horizontal, 0, 0);
    }
}
