#pragma once

#include <QList>
#include <QString>
#include <QTreeWidget>

#include <functional>

namespace imagelist {

// A report-style list with two columns whose rows are the top-level items.
// It keeps a sort key (column), a sorted flag and a direction; while the flag
// is on, setting any of the three re-sorts the rows by the key column's text.
// The sort is stable and compares texts code unit by code unit, so rows with
// equal texts keep their order. Every cell can carry a Tag text.
class ListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);

    int sortKey() const { return m_sortKey; }
    void setSortKey(int column);
    bool sorted() const { return m_sorted; }
    void setSorted(bool on);
    // 0 ascending, 1 descending.
    int sortOrder() const { return m_sortOrder; }
    void setSortOrder(int order);
    // All three at once, re-sorting at most once.
    void setSortState(int column, bool sorted, int order);
    // All three at once without re-sorting, for rows that already stand in
    // the order the state describes.
    void adoptSortState(int column, bool sorted, int order);

    // The Tag of a row (column 0) or of one of its sub-items.
    static QString tag(const QTreeWidgetItem* item, int column = 0);
    static void setTag(QTreeWidgetItem* item, const QString& tag, int column = 0);

    // Takes the rows out of the list, lets edit change their cells and order,
    // and puts them back; the current and the selected rows stay so. Cells of
    // detached rows change without a model signal each, which makes editing
    // every row of a long list cheap.
    void rearrangeRows(const std::function<void(QList<QTreeWidgetItem*>& rows)>& edit);

private:
    void sortRows();

    int m_sortKey = 0;
    bool m_sorted = false;
    int m_sortOrder = 0;
};

} // namespace imagelist
