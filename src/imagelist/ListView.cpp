#include "imagelist/ListView.h"

#include <QApplication>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace imagelist {

namespace {

// Tags live beside the display text of each cell.
constexpr int kTagRole = Qt::UserRole;

// The "X" of a measured row, green on the tint.
const QColor kMeasuredMarkColour(0, 110, 0);

// Draws the cells: measured rows tinted, first-column texts that do not fit
// elided in the middle, where both ends of a long ear-tag number stay in
// sight; such a text shows whole in the cell's tooltip.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.siblingAtColumn(1).data().toString() == ListView::kMeasuredMark) {
            option->backgroundBrush = ListView::kMeasuredTint;
            if (index.column() == 1)
                option->palette.setColor(QPalette::Text, kMeasuredMarkColour);
        }
        if (index.column() == 0)
            option->text = elided(*option);
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() == QEvent::ToolTip && index.isValid() && index.column() == 0) {
            QStyleOptionViewItem shown = option;
            initStyleOption(&shown, index);
            const QString whole = index.data().toString();
            if (shown.text != whole) {
                QToolTip::showText(event->globalPos(), whole, view->viewport(),
                                   view->visualRect(index));
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

private:
    // The text cut to the width the style leaves it in the cell, text
    // margins on both sides taken off as the style takes them.
    static QString elided(const QStyleOptionViewItem& option) {
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int width =
            style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget).width() -
            2 * margin;
        return option.fontMetrics.elidedText(option.text, Qt::ElideMiddle, width);
    }
};

} // namespace

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    // Sorting belongs to the sort state above; the view's own sorting would
    // re-order rows while their texts are being replaced.
    setSortingEnabled(false);
    setItemDelegate(new RowDelegate(this));
    setTextElideMode(Qt::ElideMiddle);
    // One count for a burst of changes: a load or a sort changes every row.
    m_recount.setSingleShot(true);
    m_recount.setInterval(0);
    connect(&m_recount, &QTimer::timeout, this, &ListView::countRows);
    const auto recount = [this] { m_recount.start(); };
    connect(model(), &QAbstractItemModel::rowsInserted, this, recount);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, recount);
    connect(model(), &QAbstractItemModel::dataChanged, this, recount);
    connect(model(), &QAbstractItemModel::modelReset, this, recount);
}

ListView::~ListView() {
    // The model goes with the base class and reports its rows removed; the
    // count timer is gone by then.
    model()->disconnect(this);
}

QString ListView::shownText(const QTreeWidgetItem* row, int column) const {
    const QModelIndex index = indexFromItem(row, column);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    static_cast<const RowDelegate*>(itemDelegate())->initStyleOption(&option, index);
    return option.text;
}

void ListView::countRows() {
    const int rows = topLevelItemCount();
    int measured = 0;
    for (int i = 0; i < rows; ++i)
        measured += isMeasured(topLevelItem(i));
    Q_EMIT countsChanged(measured, rows);
}

void ListView::setSortState(int column, bool sorted, int order) {
    adoptSortState(column, sorted, order);
    if (m_sorted)
        sortRows();
}

void ListView::adoptSortState(int column, bool sorted, int order) {
    m_sortKey = column;
    m_sorted = sorted;
    m_sortOrder = order == 0 ? 0 : 1;
}

QString ListView::tag(const QTreeWidgetItem* item, int column) {
    return item->data(column, kTagRole).toString();
}

void ListView::setTag(QTreeWidgetItem* item, const QString& tag, int column) {
    item->setData(column, kTagRole, tag);
}

void ListView::rearrangeRows(const std::function<void(QList<QTreeWidgetItem*>& rows)>& edit) {
    QTreeWidgetItem* current = currentItem();
    const QList<QTreeWidgetItem*> selected = selectedItems();
    QList<QTreeWidgetItem*> rows = invisibleRootItem()->takeChildren();
    edit(rows);
    invisibleRootItem()->addChildren(rows);
    if (current)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* row : selected)
        row->setSelected(true);
}

void ListView::sortRows() {
    const int column = m_sortKey;
    const bool descending = m_sortOrder != 0;
    rearrangeRows([column, descending](QList<QTreeWidgetItem*>& rows) {
        QList<std::pair<QString, QTreeWidgetItem*>> keyed;
        keyed.reserve(rows.size());
        for (QTreeWidgetItem* row : std::as_const(rows))
            keyed.append({row->text(column), row});
        std::stable_sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
            return descending ? b.first < a.first : a.first < b.first;
        });
        for (qsizetype i = 0; i < keyed.size(); ++i)
            rows[i] = keyed[i].second;
    });
}

} // namespace imagelist
