#include "report/Statistics.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace report {

Statistics statistics(const QList<double>& values) {
    QList<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    Statistics s;
    s.count = static_cast<int>(n);
    s.minimum = sorted.front();
    s.maximum = sorted.back();
    s.median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    s.mean = std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(n);
    if (n > 1) {
        double squares = 0.0;
        for (const double value : sorted)
            squares += (value - s.mean) * (value - s.mean);
        s.deviation = std::sqrt(squares / static_cast<double>(n - 1));
    }
    return s;
}

Histogram histogram(const QList<double>& values) {
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const double minimum = *low;
    const double maximum = *high;
    constexpr int kMostBins = 12;
    const int bins =
        maximum > minimum
            ? std::min(kMostBins,
                       static_cast<int>(std::ceil(std::log2(static_cast<double>(values.size())))) +
                           1)
            : 1;
    Histogram h;
    const double width = (maximum - minimum) / bins;
    for (int i = 0; i < bins; ++i)
        h.edges << minimum + width * i;
    h.edges << maximum;
    h.counts.fill(0, bins);
    for (const double value : values) {
        const int bin = width > 0.0 ? static_cast<int>((value - minimum) / width) : 0;
        ++h.counts[std::clamp(bin, 0, bins - 1)];
    }
    return h;
}

QString LengthGroup::title() const {
    QString text = QStringLiteral("Länge %1").arg(column);
    if (!calibration.isEmpty())
        text += QStringLiteral(" (%1)").arg(calibration);
    return text;
}

namespace {

int decimalsOf(const QString& text) {
    const qsizetype separator =
        std::max(text.indexOf(QLatin1Char(',')), text.indexOf(QLatin1Char('.')));
    return separator < 0 ? 0 : static_cast<int>(text.size() - separator - 1);
}

} // namespace

QList<LengthGroup> lengthGroups(const Day& day) {
    QList<LengthGroup> groups;
    for (const Animal& animal : day.animals) {
        for (const Length& length : animal.lengths) {
            auto group = std::find_if(groups.begin(), groups.end(), [&](const LengthGroup& g) {
                return g.column == length.column && g.unit == length.unit &&
                       g.calibration == length.calibration;
            });
            if (group == groups.end()) {
                groups.append(
                    LengthGroup{length.column, length.unit, length.calibration, {}, 0, {}});
                group = groups.end() - 1;
            }
            group->values << length.value;
            group->decimals = std::max(group->decimals, decimalsOf(length.text));
        }
    }
    std::stable_sort(groups.begin(), groups.end(), [](const LengthGroup& a, const LengthGroup& b) {
        return a.column < b.column;
    });
    for (LengthGroup& group : groups)
        group.figures = statistics(group.values);
    return groups;
}

QString formatNumber(double value, int decimals) {
    QLocale german(QLocale::German);
    german.setNumberOptions(QLocale::OmitGroupSeparator);
    return german.toString(value, 'f', decimals);
}

} // namespace report
