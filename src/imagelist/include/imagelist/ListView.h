#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace imagelist {

// A report-style list with two columns whose rows are the top-level items.
// It keeps a sort key (column), a sorted flag and a direction; setting them
// while the flag is on re-sorts the rows by the key column's text.
// The sort is stable and compares texts code unit by code unit, so rows with
// equal texts keep their order. Every cell can carry a Tag text.
//
// Rows whose second column reads "X" (the image has a measured copy) are
// tinted; a first-column text wider than its column is elided in the middle
// and shown whole in a tooltip. Both happen while painting, for the rows in
// sight only.
class ListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // The mark of a row whose image has a measured copy, and its tint.
    static inline const QString kMeasuredMark = QStringLiteral("X");
    static inline const QColor kMeasuredTint = QColor(208, 240, 208);
    static bool isMeasured(const QTreeWidgetItem* row) { return row->text(1) == kMeasuredMark; }

    // A cell's text as the list draws it now (elided when too wide).
    QString shownText(const QTreeWidgetItem* row, int column) const;

    int sortKey() const { return m_sortKey; }
    bool sorted() const { return m_sorted; }
    // 0 ascending, 1 descending.
    int sortOrder() const { return m_sortOrder; }
    // All three at once, re-sorting once when the flag is on.
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

Q_SIGNALS:
    // The rows were counted anew after a change; emitted once for a burst of
    // changes (a load, a sort), when events run next.
    void countsChanged(int measured, int rows);

private:
    void sortRows();
    void countRows();

    QTimer m_recount;

    int m_sortKey = 0;
    bool m_sorted = false;
    int m_sortOrder = 0;
};

} // namespace imagelist
