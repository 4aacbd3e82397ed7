#include "report/Workbook.h"

#include "core/AtomicFile.h"
#include "report/ReportError.h"
#include "report/Statistics.h"

#include <xlsxwriter.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace report {

QString workbookPath(const Day& day) {
    return day.folder + QStringLiteral("/Messwerte.xlsx");
}

namespace {

// libxlsxwriter reports a failed write only when the workbook closes; this
// error carries its code there.
struct WriteFailure {
    lxw_error code;
};

void check(lxw_error code) {
    if (code != LXW_NO_ERROR)
        throw WriteFailure{code};
}

// One workbook being written; closed (and so written) by close(), freed
// unwritten when an exception leaves first.
class Workbook {
public:
    explicit Workbook(const QString& path)
        : m_name(QFile::encodeName(path)), m_book(workbook_new(m_name.constData())) {
        if (!m_book)
            throw WriteFailure{LXW_ERROR_MEMORY_MALLOC_FAILED};
        m_bold = format();
        format_set_bold(m_bold);
        m_date = format();
        format_set_num_format(m_date, "dd.mm.yyyy");
        m_time = format();
        format_set_num_format(m_time, "dd.mm.yyyy hh:mm:ss");
    }
    ~Workbook() {
        if (m_book)
            workbook_close(m_book);
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    void close() {
        lxw_workbook* book = std::exchange(m_book, nullptr);
        check(workbook_close(book));
    }

    lxw_worksheet* sheet(const char* name) {
        lxw_worksheet* sheet = workbook_add_worksheet(m_book, name);
        if (!sheet)
            throw WriteFailure{LXW_ERROR_MEMORY_MALLOC_FAILED};
        return sheet;
    }
    lxw_format* format() {
        lxw_format* f = workbook_add_format(m_book);
        if (!f)
            throw WriteFailure{LXW_ERROR_MEMORY_MALLOC_FAILED};
        return f;
    }
    // A number format with decimals places ("0.00").
    lxw_format* numberFormat(int decimals) {
        auto& f = m_numbers[decimals];
        if (!f) {
            f = format();
            const QByteArray code =
                decimals > 0 ? "0." + QByteArray(decimals, '0') : QByteArray("0");
            format_set_num_format(f, code.constData());
        }
        return f;
    }
    lxw_chart* chart() {
        lxw_chart* c = workbook_add_chart(m_book, LXW_CHART_COLUMN);
        if (!c)
            throw WriteFailure{LXW_ERROR_MEMORY_MALLOC_FAILED};
        return c;
    }

    lxw_format* bold() const { return m_bold; }
    lxw_format* date() const { return m_date; }
    lxw_format* time() const { return m_time; }

private:
    QByteArray m_name;
    lxw_workbook* m_book;
    lxw_format* m_bold = nullptr;
    lxw_format* m_date = nullptr;
    lxw_format* m_time = nullptr;
    std::map<int, lxw_format*> m_numbers;
};

// The most characters a spreadsheet cell holds.
constexpr qsizetype kCellCharacters = 32767;

// A text cell; text beyond the most a cell holds (a hand edit) is cut off.
void text(lxw_worksheet* sheet, int row, int column, const QString& value,
          lxw_format* format = nullptr) {
    if (value.isEmpty())
        return;
    const QString cell = value.left(kCellCharacters);
    check(worksheet_write_string(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column),
                                 cell.toUtf8().constData(), format));
}

void number(lxw_worksheet* sheet, int row, int column, double value, lxw_format* format = nullptr) {
    check(worksheet_write_number(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column),
                                 value, format));
}

// A date or time cell; the recorded text where it is none.
void dateTime(lxw_worksheet* sheet, int row, int column, const QDateTime& value,
              const QString& recorded, lxw_format* format) {
    if (!value.isValid()) {
        text(sheet, row, column, recorded);
        return;
    }
    const QDate d = value.date();
    const QTime t = value.time();
    lxw_datetime cell = {d.year(), d.month(),  d.day(),
                         t.hour(), t.minute(), static_cast<double>(t.second())};
    check(worksheet_write_datetime(sheet, static_cast<lxw_row_t>(row),
                                   static_cast<lxw_col_t>(column), &cell, format));
}

QString unitHeader(int column, const QString& unit) {
    return QStringLiteral("Länge %1 (%2)").arg(column).arg(unit);
}

void writeValues(Workbook& book, const Day& day) {
    lxw_worksheet* sheet = book.sheet("Messwerte");
    // One column per length column and unit, in column order.
    QList<std::pair<int, QString>> lengthColumns;
    for (const Animal& animal : day.animals)
        for (const Length& length : animal.lengths)
            if (!lengthColumns.contains(std::pair(length.column, length.unit)))
                lengthColumns << std::pair(length.column, length.unit);
    std::stable_sort(lengthColumns.begin(), lengthColumns.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const QStringList fixed = {QStringLiteral("Kuhnummer"), QStringLiteral("Bild-UID"),
                               QStringLiteral("Studiendatum"), QStringLiteral("Gespeichert"),
                               QStringLiteral("Kalibrierung")};
    const int first = static_cast<int>(fixed.size());
    for (int c = 0; c < first; ++c)
        text(sheet, 0, c, fixed[c], book.bold());
    for (qsizetype i = 0; i < lengthColumns.size(); ++i)
        text(sheet, 0, first + static_cast<int>(i),
             unitHeader(lengthColumns[i].first, lengthColumns[i].second), book.bold());
    int row = 1;
    for (const Animal& animal : day.animals) {
        text(sheet, row, 0, animal.number);
        text(sheet, row, 1, animal.uid);
        dateTime(sheet, row, 2, animal.studyDate.startOfDay(), animal.studyDateText, book.date());
        dateTime(sheet, row, 3, animal.savedAt, animal.savedAtText, book.time());
        QStringList calibrations;
        for (const Length& length : animal.lengths) {
            if (!length.calibration.isEmpty() && !calibrations.contains(length.calibration))
                calibrations << length.calibration;
            const qsizetype column = lengthColumns.indexOf(std::pair(length.column, length.unit));
            number(sheet, row, first + static_cast<int>(column), length.value);
        }
        text(sheet, row, 4, calibrations.join(QStringLiteral("; ")));
        ++row;
    }
    worksheet_set_column(sheet, 0, 0, 12, nullptr);
    worksheet_set_column(sheet, 1, 1, 46, nullptr);
    worksheet_set_column(sheet, 2, 2, 12, nullptr);
    worksheet_set_column(sheet, 3, 3, 19, nullptr);
    worksheet_set_column(sheet, 4, 4, 24, nullptr);
    if (!lengthColumns.isEmpty())
        worksheet_set_column(sheet, static_cast<lxw_col_t>(first),
                             static_cast<lxw_col_t>(first + lengthColumns.size() - 1), 14, nullptr);
    worksheet_freeze_panes(sheet, 1, 0);
}

void writeFigures(Workbook& book, const QList<LengthGroup>& groups) {
    lxw_worksheet* sheet = book.sheet("Statistik");
    const QStringList header = {
        QStringLiteral("Länge"),        QStringLiteral("Einheit"),
        QStringLiteral("Kalibrierung"), QStringLiteral("Anzahl"),
        QStringLiteral("Mittelwert"),   QStringLiteral("Standardabweichung (n\u22121)"),
        QStringLiteral("Minimum"),      QStringLiteral("Median"),
        QStringLiteral("Maximum")};
    for (int c = 0; c < header.size(); ++c)
        text(sheet, 0, c, header[c], book.bold());
    int row = 1;
    for (const LengthGroup& group : groups) {
        const Statistics& s = group.figures;
        lxw_format* values = book.numberFormat(group.decimals);
        lxw_format* derived = book.numberFormat(group.decimals + 1);
        text(sheet, row, 0, QStringLiteral("Länge %1").arg(group.column));
        text(sheet, row, 1, group.unit);
        text(sheet, row, 2, group.calibration);
        number(sheet, row, 3, s.count);
        number(sheet, row, 4, s.mean, derived);
        if (s.deviation)
            number(sheet, row, 5, *s.deviation, derived);
        else
            text(sheet, row, 5, QStringLiteral("\u2013"));
        number(sheet, row, 6, s.minimum, values);
        number(sheet, row, 7, s.median, derived);
        number(sheet, row, 8, s.maximum, values);
        ++row;
    }
    worksheet_set_column(sheet, 0, 1, 10, nullptr);
    worksheet_set_column(sheet, 2, 2, 24, nullptr);
    worksheet_set_column(sheet, 3, 8, 14, nullptr);
    worksheet_set_column(sheet, 5, 5, 28, nullptr);

    // Below the figures, each group's frequencies and their column chart.
    constexpr int kChartRows = 16;
    row += 2;
    for (const LengthGroup& group : groups) {
        const Histogram h = histogram(group.values);
        const int bins = static_cast<int>(h.counts.size());
        text(sheet, row, 0, QStringLiteral("Häufigkeit %1 in %2").arg(group.title(), group.unit),
             book.bold());
        text(sheet, row + 1, 0, QStringLiteral("Bereich"), book.bold());
        text(sheet, row + 1, 1, QStringLiteral("Anzahl"), book.bold());
        for (int i = 0; i < bins; ++i) {
            text(sheet, row + 2 + i, 0,
                 QStringLiteral("%1\u2013%2")
                     .arg(formatNumber(h.edges[i], group.decimals + 1),
                          formatNumber(h.edges[i + 1], group.decimals + 1)));
            number(sheet, row + 2 + i, 1, h.counts[i]);
        }
        lxw_chart* chart = book.chart();
        lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
        if (!series)
            throw WriteFailure{LXW_ERROR_MEMORY_MALLOC_FAILED};
        const auto first = static_cast<lxw_row_t>(row + 2);
        const auto last = static_cast<lxw_row_t>(row + 1 + bins);
        chart_series_set_categories(series, "Statistik", first, 0, last, 0);
        chart_series_set_values(series, "Statistik", first, 1, last, 1);
        chart_set_series_gap(chart, 10);
        const QByteArray title = group.title().toUtf8();
        chart_title_set_name(chart, title.constData());
        const QByteArray axis = QStringLiteral("Länge in %1").arg(group.unit).toUtf8();
        chart_axis_set_name(chart->x_axis, axis.constData());
        chart_axis_set_name(chart->y_axis, "Anzahl");
        chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
        check(worksheet_insert_chart(sheet, static_cast<lxw_row_t>(row), 3, chart));
        row += std::max(bins + 3, kChartRows);
    }
}

void writeProblems(Workbook& book, const QList<Problem>& problems) {
    if (problems.isEmpty())
        return;
    lxw_worksheet* sheet = book.sheet("Nicht gelesen");
    text(sheet, 0, 0, QStringLiteral("Stelle"), book.bold());
    text(sheet, 0, 1, QStringLiteral("Grund"), book.bold());
    for (int i = 0; i < problems.size(); ++i) {
        text(sheet, i + 1, 0, problems[i].place);
        text(sheet, i + 1, 1, problems[i].reason);
    }
    worksheet_set_column(sheet, 0, 0, 18, nullptr);
    worksheet_set_column(sheet, 1, 1, 90, nullptr);
}

QString failureText(lxw_error code) {
    switch (code) {
    case LXW_ERROR_MEMORY_MALLOC_FAILED:
        return QStringLiteral("Der Arbeitsspeicher reicht nicht aus.");
    case LXW_ERROR_CREATING_XLSX_FILE:
        return QStringLiteral("Die Datei kann im Ordner nicht angelegt werden; meist fehlt das "
                              "Recht, dort zu schreiben.");
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE:
        return QStringLiteral("Eine Zwischendatei im temporären Ordner kann nicht angelegt oder "
                              "gelesen werden.");
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
        return QStringLiteral("Die Datei konnte nicht vollständig geschrieben werden; "
                              "vielleicht ist der Datenträger voll.");
    default:
        return QStringLiteral("Die Arbeitsmappe ist fehlerhaft (libxlsxwriter: %1).")
            .arg(QString::fromUtf8(lxw_strerror(code)));
    }
}

} // namespace

void writeWorkbook(const Day& day, const QString& path) {
    const QString failed =
        QStringLiteral("Die Arbeitsmappe \u201E%1\u201C konnte nicht "
                       "geschrieben werden; eine vorhandene bleibt, wie sie war. %2");
    try {
        core::replaceFile(path, [&](const QString& temporary) {
            Workbook book(temporary);
            writeValues(book, day);
            writeFigures(book, lengthGroups(day));
            writeProblems(book, day.problems);
            book.close();
        });
    } catch (const WriteFailure& e) {
        throw ReportError(failed.arg(QDir::toNativeSeparators(path), failureText(e.code)));
    } catch (const core::FileSystemError& e) {
        throw ReportError(failed.arg(QDir::toNativeSeparators(path), e.cause()));
    }
}

} // namespace report
