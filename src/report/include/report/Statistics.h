#pragma once

#include "report/Day.h"

#include <QList>
#include <QString>

#include <optional>

// The figures of a day's lengths, one group per length column, unit and
// calibration: lengths that differ in any of these are never averaged together.
namespace report {

struct Statistics {
    int count = 0;
    double mean = 0.0;
    // Sample standard deviation (divisor n − 1); none for a single value.
    std::optional<double> deviation;
    double minimum = 0.0;
    double median = 0.0;
    double maximum = 0.0;
};

// The figures of values, which must not be empty.
Statistics statistics(const QList<double>& values);

// Equal-width bins from the smallest to the largest value, the last one
// closed; Sturges' rule for their number, at most 12, one for equal values.
struct Histogram {
    QList<double> edges; // bins + 1 edges
    QList<int> counts;
};
Histogram histogram(const QList<double>& values);

struct LengthGroup {
    int column = 0;
    QString unit;
    QString calibration;
    QList<double> values;
    int decimals = 0; // the most decimals a recorded value of the group has
    Statistics figures;

    // "Länge 1", with its calibration when it has one.
    QString title() const;
};

// The groups of a day in column order, each column's groups in order of
// appearance.
QList<LengthGroup> lengthGroups(const Day& day);

// A figure in German form with the given decimals ("30,25").
QString formatNumber(double value, int decimals);

} // namespace report
