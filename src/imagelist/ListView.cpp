#include "imagelist/ListView.h"

#include <algorithm>

namespace imagelist {

namespace {

// Tags live beside the display text of each cell.
constexpr int kTagRole = Qt::UserRole;

} // namespace

ListView::ListView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    // Sorting belongs to the sort state above; the view's own sorting would
    // re-order rows while their texts are being replaced.
    setSortingEnabled(false);
}

void ListView::setSortKey(int column) {
    m_sortKey = column;
    if (m_sorted)
        sortRows();
}

void ListView::setSorted(bool on) {
    m_sorted = on;
    if (m_sorted)
        sortRows();
}

void ListView::setSortOrder(int order) {
    m_sortOrder = order == 0 ? 0 : 1;
    if (m_sorted)
        sortRows();
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
