#include "ui/list_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

#include "ui/list_ctrl.h"

namespace {

using Action = QAccessibleActionInterface;

QRect GlobalRect(const QWidget& widget, QRect rect) {
    return rect.translated(widget.mapToGlobal(QPoint(0, 0)));
}

// A column's heading (the hidden row header and the corner are empty ones, kept because
// the focus events a table view sends count them).
class ListHeader final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ListHeader(CBasicListCtrl* list, int section, Qt::Orientation orientation)
        : list_(list), section_(section), orientation_(orientation) {}

    int Section() const { return section_; }
    Qt::Orientation Orientation() const { return orientation_; }

    bool isValid() const override { return !list_.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(list_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!list_ || t != QAccessible::Name || !IsColumn()) return {};
        return list_->model()
            ->headerData(section_, orientation_, Qt::AccessibleTextRole)
            .toString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!list_ || !IsColumn()) return {};
        const QHeaderView& header = *list_->horizontalHeader();
        return GlobalRect(header, QRect(header.sectionViewportPosition(section_), 0,
                                        header.sectionSize(section_), header.height()));
    }
    QAccessible::Role role() const override {
        return orientation_ == Qt::Horizontal ? QAccessible::ColumnHeader : QAccessible::RowHeader;
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = !IsColumn();
        if (!list_ || !IsColumn()) return state;
        const QVariant box = list_->model()->headerData(section_, orientation_, Qt::CheckStateRole);
        state.checkable = box.isValid();
        state.checked = box.toInt() == Qt::Checked;
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface && IsColumn() ? static_cast<Action*>(this)
                                                                  : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (list_ && IsColumn() && name == pressAction()) list_->HeaderClicked(section_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    bool IsColumn() const { return orientation_ == Qt::Horizontal && section_ >= 0; }

    QPointer<CBasicListCtrl> list_;
    const int section_;
    const Qt::Orientation orientation_;
};

// One field of one row.
class ListCell final : public QAccessibleInterface,
                       public QAccessibleTableCellInterface,
                       public QAccessibleActionInterface {
public:
    ListCell(CBasicListCtrl* list, const QModelIndex& index) : list_(list), index_(index) {}

    QModelIndex Index() const { return index_; }

    bool isValid() const override { return list_ && index_.isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* editor = child(0);
        return editor && editor->rect().contains(x, y) ? editor : nullptr;
    }
    QAccessibleInterface* parent() const override { return table(); }
    // While its editor is open, the cell holds it.
    QAccessibleInterface* child(int i) const override {
        QWidget* editor = Editor();
        return i == 0 && editor ? QAccessible::queryAccessibleInterface(editor) : nullptr;
    }
    int childCount() const override { return Editor() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && Editor() && child->object() == Editor() ? 0 : -1;
    }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        if (t == QAccessible::Description) return index_.data(Qt::ToolTipRole).toString();
        if (t != QAccessible::Name) return {};
        const QString name = index_.data(Qt::AccessibleTextRole).toString();
        return name.isEmpty() ? index_.data().toString() : name;
    }
    void setText(QAccessible::Text, const QString& text) override {
        if (isValid() && (index_.flags() & Qt::ItemIsEditable)) {
            list_->model()->setData(index_, text, Qt::EditRole);
        }
    }
    QRect rect() const override {
        if (!isValid()) return {};
        return GlobalRect(*list_->viewport(), list_->visualRect(index_));
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) return state;
        const Qt::ItemFlags flags = index_.flags();
        state.selectable = state.focusable = (flags & Qt::ItemIsSelectable) != 0;
        state.selected = isSelected();
        state.focused = list_->currentIndex() == QModelIndex(index_);
        state.checkable = (flags & Qt::ItemIsUserCheckable) != 0;
        state.checked = index_.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        state.editable = (flags & Qt::ItemIsEditable) != 0;
        state.invisible = !list_->viewport()->rect().intersects(list_->visualRect(index_));
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface) {
            return static_cast<QAccessibleTableCellInterface*>(this);
        }
        if (type == QAccessible::ActionInterface) return static_cast<Action*>(this);
        return nullptr;
    }

    bool isSelected() const override {
        return isValid() && list_->selectionModel()->isSelected(index_);
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        QAccessibleInterface* list = table();
        if (!list || !list->tableInterface()) return {};
        return {list->tableInterface()->cellAt(-1, index_.column())};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return index_.column(); }
    int rowIndex() const override { return index_.row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override {
        return QAccessible::queryAccessibleInterface(list_.data());
    }

    QStringList actionNames() const override {
        if (!isValid()) return {};
        if (index_.flags() & Qt::ItemIsEditable) return {pressAction(), toggleAction()};
        return {toggleAction()};
    }
    void doAction(const QString& name) override {
        if (!isValid()) return;
        const Qt::ItemFlags flags = index_.flags();
        if (name == pressAction() && (flags & Qt::ItemIsEditable)) {
            list_->EditCell(index_);
            if (QWidget* editor = Editor()) editor->setFocus(Qt::OtherFocusReason);
        } else if (name == toggleAction() && (flags & Qt::ItemIsUserCheckable)) {
            // As a click on the box: the page's rule decides.
            const bool checked = index_.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            list_->model()->setData(index_, checked ? Qt::Unchecked : Qt::Checked,
                                    Qt::CheckStateRole);
        } else if (name == toggleAction()) {
            // Any other cell selects its row, or lets it go.
            QItemSelectionModel& selection = *list_->selectionModel();
            if (isSelected()) {
                selection.clearSelection();
            } else {
                selection.select(index_,
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            }
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QWidget* Editor() const {
        return list_ && list_->EditedCell() == QModelIndex(index_) ? list_->OpenEditor() : nullptr;
    }

    QPointer<CBasicListCtrl> list_;
    QPersistentModelIndex index_;
};

class ListTable final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListTable(CBasicListCtrl* list) : QAccessibleWidget(list, QAccessible::Table) {}
    ~ListTable() override { Forget(); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override { return (rowCount() + 1) * (columnCount() + 1); }
    QAccessibleInterface* child(int i) const override {
        const int columns = columnCount() + 1;
        if (i < 0 || i >= childCount()) return nullptr;
        const int row = i / columns - 1;
        const int column = i % columns - 1;
        if (row < 0) return Header(i, column, Qt::Horizontal);
        if (column < 0) return Header(i, row, Qt::Vertical);
        return Cell(i, List().model()->index(row, column));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int columns = columnCount() + 1;
        if (const auto* cell = dynamic_cast<const ListCell*>(child)) {
            return cell->isValid() ? (cell->rowIndex() + 1) * columns + cell->columnIndex() + 1
                                   : -1;
        }
        if (const auto* header = dynamic_cast<const ListHeader*>(child)) {
            return header->Orientation() == Qt::Horizontal ? header->Section() + 1
                                                           : (header->Section() + 1) * columns;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = List().viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = List().indexAt(at);
        return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = List().currentIndex();
        return current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        return child((row + 1) * (columnCount() + 1) + column + 1);
    }
    int selectedCellCount() const override {
        return static_cast<int>(List().selectionModel()->selectedIndexes().size());
    }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (const QModelIndex& index : List().selectionModel()->selectedIndexes()) {
            cells << cellAt(index.row(), index.column());
        }
        return cells;
    }
    QString columnDescription(int column) const override {
        return List().model()->headerData(column, Qt::Horizontal).toString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return List().model()->columnCount(); }
    int rowCount() const override { return List().model()->rowCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        for (const QModelIndex& index : List().selectionModel()->selectedRows())
            rows << index.row();
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        return List().selectionModel()->isRowSelected(row, QModelIndex());
    }
    bool selectRow(int row) override {
        if (row < 0 || row >= rowCount()) return false;
        List().selectRow(row);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override {
        if (!isRowSelected(row)) return false;
        List().selectionModel()->clearSelection();
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override { Forget(); }

private:
    CBasicListCtrl& List() const { return *static_cast<CBasicListCtrl*>(widget()); }

    // The interfaces handed out are kept (the tools hold on to them by their id) as
    // long as they still stand for the same place.
    QAccessibleInterface* Header(int i, int section, Qt::Orientation orientation) const {
        if (auto* known = dynamic_cast<ListHeader*>(Known(i))) {
            if (known->Section() == section && known->Orientation() == orientation) return known;
        }
        return Keep(i, new ListHeader(&List(), section, orientation));
    }
    QAccessibleInterface* Cell(int i, const QModelIndex& index) const {
        if (!index.isValid()) return nullptr;
        if (auto* known = dynamic_cast<ListCell*>(Known(i))) {
            if (known->Index() == index) return known;
        }
        return Keep(i, new ListCell(&List(), index));
    }
    QAccessibleInterface* Known(int i) const {
        const auto found = children_.constFind(i);
        return found == children_.constEnd() ? nullptr : QAccessible::accessibleInterface(*found);
    }
    QAccessibleInterface* Keep(int i, QAccessibleInterface* made) const {
        if (const auto old = children_.constFind(i); old != children_.constEnd()) {
            QAccessible::deleteAccessibleInterface(*old);
        }
        children_.insert(i, QAccessible::registerAccessibleInterface(made));
        return made;
    }
    void Forget() {
        for (QAccessible::Id id : std::as_const(children_))
            QAccessible::deleteAccessibleInterface(id);
        children_.clear();
    }

    mutable QHash<int, QAccessible::Id> children_;
};

QAccessibleInterface* ListFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("CBasicListCtrl")) return nullptr;
    auto* list = qobject_cast<CBasicListCtrl*>(object);
    return list ? new ListTable(list) : nullptr;
}

}  // namespace

void InstallListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&ListFactory);
        return true;
    }();
    (void)installed;
}
