#include "ui/list_ctrl.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <numeric>

#include "ui/skin.h"

namespace {

// Edits the password cell in place, the typed text hidden.
class PasswordDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setEchoMode(QLineEdit::Password);
            line->setAccessibleName(QStringLiteral("PasswordField"));
            const auto* model = qobject_cast<const CListModel*>(index.model());
            if (model) line->setPlaceholderText(model->PromptText());
        }
        return editor;
    }
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
    // The columns are fitted to the width: nothing to scroll sideways to.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSortingEnabled(false);
    connect(&header_, &QHeaderView::sectionClicked, this, &CBasicListCtrl::HeaderClicked);
    connect(&model_, &CListModel::CheckChanged, this, &CBasicListCtrl::CheckChanged);
    connect(&model_, &CListModel::PasswordTyped, this, &CBasicListCtrl::PasswordTyped);
}

void CBasicListCtrl::SetColumns(const QStringList& headings, const std::vector<int>& widths,
                                Fit fit) {
    model_.SetHeadings(headings);
    fit_ = fit;
    widths_.assign(widths.begin(),
                   widths.begin() + std::min<qsizetype>(headings.size(), widths.size()));
    FitColumns();
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

void CBasicListCtrl::FitColumns() {
    // Room is kept for a vertical scroll bar, so that a growing list does not push the
    // last column out of sight.
    const int room = width() - 2 * frameWidth() -
                     style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int asked = std::accumulate(widths_.begin(), widths_.end(), 0);
    const double scale =
        fit_ == Fit::ToRoom && room > 0 && asked > room ? static_cast<double>(room) / asked : 1.0;
    for (size_t i = 0; i < widths_.size(); ++i) {
        setColumnWidth(static_cast<int>(i), static_cast<int>(widths_[i] * scale));
    }
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

CCameraListCtrl::CCameraListCtrl(QWidget* parent) : CBasicListCtrl(parent) {
    Model().SetColouring(&CCameraListCtrl::Colours);
}

CListModel::CellColours CCameraListCtrl::Colours(const CListRow& row, int column) {
    // The text colours are darkened to keep 4.5:1 against the cell.
    static const QColor kGrey(192, 192, 192);
    static const QColor kRemembered(254, 144, 3);
    static const QColor kSucceeded(0, 128, 0);
    CListModel::CellColours colours;
    if (!row.Checkable) {
        colours.Background = kGrey;
        return colours;
    }
    const QString state = row.Text(15);
    const int id =
        column < static_cast<int>(row.Ids.size()) ? row.Ids[static_cast<size_t>(column)] : -1;
    if (row.Text(16) != QStringLiteral("9999")) {
        if (state == QStringLiteral("1")) colours.Background = kRemembered;
        if (id == field::kPassword && state == QStringLiteral("2"))
            colours.Text = skin::kDisabledText;
        return colours;
    }
    if (id == 13) {
        const int value = state.toInt();
        if (value < 1 || value > 4) {
            colours.Text = value == 5 ? kSucceeded : skin::kWarning;
        }
    }
    return colours;
}
