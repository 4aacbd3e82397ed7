#include "report/Day.h"

#include "core/AtomicFile.h"
#include "core/Names.h"
#include "imaging/Image.h"
#include "record/Record.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace report {

QList<QDate> Day::studyDates() const {
    QList<QDate> dates;
    for (const Animal& animal : animals)
        if (animal.studyDate.isValid() && !dates.contains(animal.studyDate))
            dates << animal.studyDate;
    return dates;
}

int Day::copies() const {
    return static_cast<int>(std::count_if(animals.begin(), animals.end(),
                                          [](const Animal& a) { return !a.copyPath.isEmpty(); }));
}

namespace {

// A length as Kalvara writes it, with either decimal separator: "30,5", "7".
std::optional<double> parseLength(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^[0-9]+(?:[.,][0-9]+)?$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A cell's text in quotes, cut short: a hand edit may have put anything there.
QString quoted(const QString& text) {
    constexpr qsizetype kShown = 60;
    return QStringLiteral("\u201E%1\u201C")
        .arg(text.size() > kShown ? text.left(kShown) + QStringLiteral("\u2026") : text);
}

// What a measured copy tells about its image.
struct Copy {
    QString path;
    QString name;
    QString number;
    QString sourceUid;
    QString pixelSpacing; // row spacing in mm, German form; empty when absent
    QDate studyDate;
    QString studyDateText;
    QDateTime modified;
    bool madeByKalvara = false;
    QString comments;
};

// What turned a length in unit on the copy's image into that unit: millimetres
// come from the pixel spacing or, without one, an ultrasound region; pixels
// need nothing. Without a copy, a millimetre length's calibration is unknown.
QString calibrationOf(const Copy* copy, const QString& unit) {
    if (unit != QStringLiteral("mm"))
        return QString();
    if (!copy)
        return kUnknownCalibration;
    if (!copy->pixelSpacing.isEmpty())
        return QStringLiteral("Pixelabstand %1 mm").arg(copy->pixelSpacing);
    return kRegionCalibration;
}

Copy readCopy(const QFileInfo& file) {
    const imaging::Image image = imaging::readHeader(file.filePath());
    Copy copy;
    copy.path = file.filePath();
    copy.name = core::names::kMeasured + QLatin1Char('/') + file.fileName();
    copy.number = image.imageNumber();
    copy.sourceUid = image.sourceImageUid();
    const QString spacing = image.attribute(0x0028, 0x0030).valueNumber(1).trimmed();
    bool ok = false;
    const double rowSpacing =
        QString(spacing).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (ok && std::isfinite(rowSpacing) && rowSpacing > 0.0)
        copy.pixelSpacing = QLocale(QLocale::German).toString(rowSpacing, 'g', 10);
    copy.studyDateText = image.attribute(0x0008, 0x0020).value();
    copy.studyDate = core::names::parseDate(copy.studyDateText).value_or(QDate());
    copy.modified = file.lastModified();
    copy.madeByKalvara = image.attribute(0x0008, 0x2111).value() == record::kMeasuredCopyDerivation;
    copy.comments = image.attribute(0x0020, 0x4000).value();
    return copy;
}

// The files directly in a folder in name order, without temporaries.
QFileInfoList filesIn(const QString& folder) {
    QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    files.removeIf([](const QFileInfo& f) { return core::isTemporaryName(f.fileName()); });
    return files;
}

// The columns of the record, found by their headers.
struct Columns {
    qsizetype number = -1, uid = -1, studyDate = -1, saved = -1, unit = -1;
    std::map<int, qsizetype> lengths; // k -> column of "Länge k"
    QHash<int, qsizetype> units;      // k -> column of "Einheit k"

    explicit Columns(const QStringList& header) {
        static const QRegularExpression numbered(QStringLiteral("^(Länge|Einheit) ([0-9]+)$"));
        for (qsizetype i = 0; i < header.size(); ++i) {
            const QString& name = header[i];
            const QRegularExpressionMatch match = numbered.match(name);
            bool ok = false;
            const int k = match.captured(2).toInt(&ok);
            if (match.hasMatch() && ok && k > 0) {
                if (match.captured(1) == QStringLiteral("Länge"))
                    lengths.try_emplace(k, i);
                else
                    units.insert(k, i);
            } else if (name == QStringLiteral("Kuhnummer")) {
                number = i;
            } else if (name == QStringLiteral("Bild-UID")) {
                uid = i;
            } else if (name == QStringLiteral("Studiendatum")) {
                studyDate = i;
            } else if (name == QStringLiteral("Gespeichert")) {
                saved = i;
            } else if (name == QStringLiteral("Einheit")) {
                unit = i;
            }
        }
    }
};

QString field(const QStringList& fields, qsizetype column) {
    return column >= 0 && column < fields.size() ? fields[column].trimmed() : QString();
}

// One record row as an animal; what cannot be read of it becomes a problem.
// lengthCells tells whether the row has any length at all, readable or not.
std::optional<Animal> readRow(const record::StoredRow& row, const Columns& columns,
                              QList<Problem>& problems, bool& lengthCells) {
    const QStringList& fields = row.fields;
    const QString place = QStringLiteral("Zeile %1").arg(row.line);
    if (std::all_of(fields.begin(), fields.end(),
                    [](const QString& f) { return f.trimmed().isEmpty(); }))
        return std::nullopt;
    Animal animal;
    animal.number = field(fields, columns.number);
    animal.uid = field(fields, columns.uid);
    if (animal.number.isEmpty() && animal.uid.isEmpty()) {
        problems << Problem{place, QStringLiteral("Die Zeile hat weder Kuhnummer noch Bild-UID "
                                                  "und wird nicht ausgewertet.")};
        return std::nullopt;
    }
    animal.studyDateText = field(fields, columns.studyDate);
    animal.studyDate = core::names::parseDate(animal.studyDateText).value_or(QDate());
    animal.savedAtText = field(fields, columns.saved);
    animal.savedAt = QDateTime::fromString(animal.savedAtText, record::kTimeFormat);
    if (!animal.savedAtText.isEmpty() && !animal.savedAt.isValid())
        problems << Problem{place, QStringLiteral("%1 ist keine Zeitangabe (%2).")
                                       .arg(quoted(animal.savedAtText),
                                            QStringLiteral("Spalte \u201EGespeichert\u201C"))};
    for (const auto& [k, column] : columns.lengths) {
        const QString text = field(fields, column);
        if (text.isEmpty())
            continue;
        lengthCells = true;
        const QString name = quoted(QStringLiteral("Länge %1").arg(k));
        const std::optional<double> value = parseLength(text);
        if (!value) {
            problems << Problem{place,
                                QStringLiteral("%1 ist keine Länge: %2.").arg(name, quoted(text))};
            continue;
        }
        QString unit = field(fields, columns.units.value(k, -1));
        if (unit.isEmpty())
            unit = field(fields, columns.unit);
        if (unit.isEmpty()) {
            problems << Problem{place,
                                QStringLiteral("%1 (%2) hat keine Einheit.").arg(name, text)};
            continue;
        }
        animal.lengths << Length{k, *value, text, unit, QString()};
    }
    return animal;
}

// The lengths of a copy's values line; none when the copy has no such line.
std::optional<QList<Length>> copyLengths(const Copy& copy, QList<Problem>& problems) {
    QList<record::Value> values;
    if (!copy.madeByKalvara || !record::readValuesLine(copy.comments, values))
        return std::nullopt;
    QList<Length> lengths;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const std::optional<double> value = parseLength(values[i].length);
        if (!value) {
            problems << Problem{
                copy.name, QStringLiteral("%1 ist keine Länge.").arg(quoted(values[i].length))};
            continue;
        }
        lengths << Length{static_cast<int>(i + 1), *value, values[i].length, values[i].unit,
                          calibrationOf(&copy, values[i].unit)};
    }
    return lengths;
}

// The animals of the record, with the copies they have.
void readRecord(Day& day, QList<Copy>& copies) {
    record::StoredRecord stored;
    try {
        stored = record::readRecord(day.folder);
    } catch (const record::RecordError& e) {
        day.problems << Problem{core::names::kRecordFile, e.message()};
        return;
    }
    const Columns columns(stored.header);
    for (const record::StoredRow& row : std::as_const(stored.rows)) {
        bool lengthCells = false;
        std::optional<Animal> animal = readRow(row, columns, day.problems, lengthCells);
        if (!animal)
            continue;
        // The copy made from the row's image; a row without UID by the number.
        const auto copy = std::find_if(copies.begin(), copies.end(), [&](const Copy& c) {
            return animal->uid.isEmpty() ? c.number == animal->number && c.sourceUid.isEmpty()
                                         : c.sourceUid == animal->uid;
        });
        const Copy* found = copy != copies.end() ? &*copy : nullptr;
        for (Length& length : animal->lengths)
            length.calibration = calibrationOf(found, length.unit);
        if (found)
            animal->copyPath = found->path;
        // A row without lengths takes its copy's, where the copy has them.
        if (found && !lengthCells)
            animal->lengths = copyLengths(*found, day.problems).value_or(QList<Length>());
        day.animals << *animal;
    }
}

// The copies no record row names: their values line stands in for the row.
void readUnrecordedCopies(Day& day, const QList<Copy>& copies) {
    for (const Copy& copy : copies) {
        if (std::any_of(day.animals.begin(), day.animals.end(),
                        [&](const Animal& a) { return a.copyPath == copy.path; }))
            continue;
        const std::optional<QList<Length>> lengths = copyLengths(copy, day.problems);
        if (!lengths) {
            day.problems << Problem{copy.name,
                                    QStringLiteral("Die Tabelle hat keine Zeile zu dieser Kopie, "
                                                   "und ihre Messwerte sind nicht lesbar.")};
            continue;
        }
        Animal animal;
        animal.number = copy.number;
        animal.uid = copy.sourceUid;
        animal.studyDate = copy.studyDate;
        animal.studyDateText = copy.studyDate.isValid()
                                   ? copy.studyDate.toString(record::kDateFormat)
                                   : copy.studyDateText;
        animal.savedAt = copy.modified;
        animal.savedAtText = copy.modified.toString(record::kTimeFormat);
        animal.copyPath = copy.path;
        animal.lengths = *lengths;
        day.animals << animal;
    }
}

} // namespace

Day readDay(const QString& folder) {
    Day day;
    day.folder = folder;
    day.images =
        static_cast<int>(filesIn(folder + QLatin1Char('/') + core::names::kOriginal).size());
    QList<Copy> copies;
    for (const QFileInfo& file : filesIn(folder + QLatin1Char('/') + core::names::kMeasured)) {
        try {
            copies << readCopy(file);
        } catch (const imaging::ImagingError& e) {
            day.problems << Problem{core::names::kMeasured + QLatin1Char('/') + file.fileName(),
                                    e.message()};
        }
    }
    readRecord(day, copies);
    readUnrecordedCopies(day, copies);
    return day;
}

} // namespace report
