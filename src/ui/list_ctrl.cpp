#include "ui/list_ctrl.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <numeric>

#include "ui/list_accessible.h"

namespace {

// A scrolling column grows to its widest text up to this, then elides.
constexpr int kWidestColumn = 600;

// Edits the password cell in place, the typed text hidden. The editor is a named child
// of the list, so that screen readers find it in the list's accessible table.
class PasswordDelegate final : public QStyledItemDelegate {
public:
    explicit PasswordDelegate(CBasicListCtrl* list) : QStyledItemDelegate(list), list_(list) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setEchoMode(QLineEdit::Password);
            line->setObjectName(QStringLiteral("PasswordField"));
            line->setAccessibleName(QStringLiteral("PasswordField"));
            const auto* model = qobject_cast<const CListModel*>(index.model());
            if (model) line->setPlaceholderText(model->PromptText());
        }
        list_->EditorOpened(editor, index);
        return editor;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        // In a right-to-left window a left-to-right text (a date, an address, a path)
        // keeps its own order: "10 Dec 2026 02:00" must not become "Dec 2026 02:00 10".
        if (option->direction == Qt::RightToLeft && !option->text.isEmpty() &&
            !option->text.isRightToLeft()) {
            option->text.prepend(QChar(0x200E));  // left-to-right mark
        }
    }

private:
    CBasicListCtrl* list_;
};

}  // namespace

CHeaderCtrlEx::CHeaderCtrlEx(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFixedHeight(kHeight);
    setDefaultAlignment(Qt::AlignCenter);
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    setStretchLastSection(true);
}

void CHeaderCtrlEx::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    const QVariant state =
        model() ? model()->headerData(logicalIndex, orientation(), Qt::CheckStateRole) : QVariant();
    if (!state.isValid()) return;
    QStyleOptionButton box;
    box.initFrom(this);
    const QSize size(style()->pixelMetric(QStyle::PM_IndicatorWidth, &box, this),
                     style()->pixelMetric(QStyle::PM_IndicatorHeight, &box, this));
    box.rect = QRect(QPoint(), size);
    box.rect.moveCenter(rect.center());
    box.state |= state.toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
}

CBasicListCtrl::CBasicListCtrl(QWidget* parent) : QTableView(parent), header_(this) {
    InstallListAccessibility();
    setHorizontalHeader(&header_);
    setModel(&model_);
    setItemDelegate(new PasswordDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setShowGrid(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(24);
    // A wrapped text would be cut at the cell's bottom: one line, elided, with the whole
    // text as tooltip.
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSortingEnabled(false);
    connect(&header_, &QHeaderView::sectionClicked, this, &CBasicListCtrl::HeaderClicked);
    connect(&model_, &CListModel::CheckChanged, this, &CBasicListCtrl::CheckChanged);
    connect(&model_, &CListModel::PasswordTyped, this, &CBasicListCtrl::PasswordTyped);
    refit_.setSingleShot(true);
    connect(&refit_, &QTimer::timeout, this, &CBasicListCtrl::FitColumns);
    auto refitSoon = [this] {
        if (fit_ == Fit::Scroll) refit_.start(0);
    };
    connect(&model_, &QAbstractItemModel::dataChanged, this, refitSoon);
    connect(&model_, &QAbstractItemModel::rowsInserted, this, refitSoon);
    connect(&model_, &QAbstractItemModel::modelReset, this, refitSoon);
}

void CBasicListCtrl::SetColumns(const QStringList& headings, const std::vector<int>& widths,
                                Fit fit) {
    model_.SetHeadings(headings);
    fit_ = fit;
    widths_.assign(widths.begin(),
                   widths.begin() + std::min<qsizetype>(headings.size(), widths.size()));
    FitColumns();
}

void CBasicListCtrl::SetRules(CListModel::TickRule tick, CListModel::Colouring colours) {
    model_.SetTickRule(std::move(tick));
    model_.SetColouring(std::move(colours));
}

void CBasicListCtrl::SetAllChecks(bool checked, const std::function<bool(int row)>& keep) {
    for (int row = 0; row < RowCount(); ++row) {
        if (IsChecked(row) == checked || (keep && keep(row))) continue;
        SetField(row, field::kCheck, checked ? QStringLiteral("1") : QStringLiteral("0"));
    }
}

void CBasicListCtrl::SetFonts(const QString& face) {
    QFont font = QApplication::font();
    font.setFamilies({face});
    // The password editors are children of the view and take its font.
    setFont(font);
    header_.setFont(QApplication::font());
}

void CBasicListCtrl::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitColumns();
}

int CBasicListCtrl::LeastWidth(int column) const {
    const QString heading = model_.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    QStyleOptionButton box;
    int content = header_.fontMetrics().horizontalAdvance(heading);
    // A column without a heading is the check column: its box must show.
    if (heading.isEmpty()) content = style()->pixelMetric(QStyle::PM_IndicatorWidth, &box, this);
    // The header's margins on both sides, and the grid line.
    return content + 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header_) + 4;
}

void CBasicListCtrl::FitColumns() {
    // Room is kept for a vertical scroll bar, so that a growing list does not push the
    // last column out of sight.
    const int room = width() - 2 * frameWidth() -
                     style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    std::vector<int> least(widths_.size());
    std::vector<int> chosen(widths_.size());
    for (size_t i = 0; i < widths_.size(); ++i) {
        const int column = static_cast<int>(i);
        least[i] = LeastWidth(column);
        chosen[i] = std::max(widths_[i], least[i]);
        if (fit_ == Fit::Scroll) {
            chosen[i] = std::max(chosen[i], std::min(sizeHintForColumn(column), kWidestColumn));
        }
    }
    const int total = std::accumulate(chosen.begin(), chosen.end(), 0);
    if (fit_ == Fit::ToRoom && room > 0 && total > room) {
        // Each column gives up a share of what it has beyond its heading; when even the
        // headings do not fit, they keep their width and the list scrolls.
        const int spare = total - std::accumulate(least.begin(), least.end(), 0);
        const double keep = spare > 0 ? std::max(0.0, 1.0 - double(total - room) / spare) : 0.0;
        for (size_t i = 0; i < chosen.size(); ++i) {
            chosen[i] = least[i] + static_cast<int>((chosen[i] - least[i]) * keep);
        }
    }
    for (size_t i = 0; i < chosen.size(); ++i) setColumnWidth(static_cast<int>(i), chosen[i]);
}

int CBasicListCtrl::EditableColumn(int row) const {
    for (int column = 0; column < model_.columnCount(); ++column) {
        if (model_.flags(model_.index(row, column)) & Qt::ItemIsEditable) return column;
    }
    return -1;
}

void CBasicListCtrl::EditCell(const QModelIndex& index) {
    setCurrentIndex(index);
    edit(index);
}

void CBasicListCtrl::EditorOpened(QWidget* editor, const QModelIndex& index) {
    editor_ = editor;
    edited_ = index;
}

void CBasicListCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QTableView::keyPressEvent(event);
        return;
    }
    // Enter stays in the list, the one that ends a typed password too: passed on, it
    // would reach the window, which hides on Enter.
    if (state() != QAbstractItemView::EditingState && currentIndex().isValid()) {
        const int column = EditableColumn(currentIndex().row());
        if (column >= 0) {
            EditCell(model_.index(currentIndex().row(), column));
        } else {
            emit activated(currentIndex());
        }
    }
    event->accept();
}

void CBasicListCtrl::HeaderClicked(int column) {
    if (model_.HasCheckColumn() && column == 0) {
        model_.ToggleAllChecks();
        emit HeaderCheckClicked();
        return;
    }
    direction_ = 1 - direction_;
    model_.sort(column, direction_ == 1 ? Qt::AscendingOrder : Qt::DescendingOrder);
}
