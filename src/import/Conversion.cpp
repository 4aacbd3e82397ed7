#include "import/Conversion.h"

#include "core/Names.h"
#include "global/modGlobal.h"
#include "imaging/Values.h"

#include <QLocale>

namespace importer {

QList<ImportAttribute> importAttributes(const ImportUids& uids, const QString& cowNumber,
                                        const QString& pixelSpacing, const QDateTime& now) {
    // One clock reading for the whole image: its dates and times agree even
    // when the conversion runs across midnight.
    const QString date = now.date().toString(QStringLiteral("yyyyMMdd"));
    const QString time = now.time().toString(QStringLiteral("HHmmss"));

    QList<ImportAttribute> list{
        {0x0020, 0x000D, uids.study},
        {0x0020, 0x000E, uids.series},
        {0x0008, 0x0018, uids.image},
        {0x0010, 0x0010, cowNumber + QLatin1Char('^') + cowNumber},
        {0x0010, 0x0020, cowNumber},
        {0x0010, 0x0030, date},
        {0x0010, 0x0040, QStringLiteral("O")},
    };
    if (!pixelSpacing.isEmpty())
        list.append({0x0028, 0x0030, pixelSpacing});
    list.append({
        {0x0028, 0x1050, QStringLiteral("127")},
        {0x0028, 0x1051, QStringLiteral("255")},
        {0x0008, 0x0020, date},
        {0x0008, 0x0021, date},
        {0x0008, 0x0023, date},
        {0x0008, 0x0030, time},
        {0x0008, 0x0031, time},
        {0x0008, 0x0032, time},
        {0x0008, 0x0033, time},
        {0x0008, 0x0060, QStringLiteral("US")},
        {0x0008, 0x0080, QStringLiteral("Jungrind")},
        {0x0010, 0x1020, QString()},
        {0x0010, 0x1030, QString()},
        {0x0010, 0x2180, QString()},
        {0x0010, 0x21B0, QString()},
    });
    return list;
}

std::optional<QString> pixelSpacingValue(const QString& typed) {
    if (typed.isEmpty())
        return QString();
    // A DS never holds a comma, so each one can only be a decimal comma.
    QString value = typed;
    value.replace(QLatin1Char(','), QLatin1Char('.'));
    // One value means square pixels: the same spacing for rows and columns.
    if (imaging::isDecimalString(value, QStringLiteral("1")))
        value += QLatin1Char('\\') + value;
    if (!imaging::isDecimalString(value, QStringLiteral("2")))
        return std::nullopt;
    for (const QString& part : value.split(QLatin1Char('\\'))) {
        if (part.trimmed().toDouble() <= 0.0)
            return std::nullopt;
    }
    return value;
}

void applyAttributes(imaging::Image& image, const QList<ImportAttribute>& attributes) {
    // The image's properties are these same attributes, so one add each sets them all.
    for (const ImportAttribute& a : attributes)
        image.addAttribute(a.group, a.element, a.value);
}

void describeImage(imaging::Image& image, const QString& cowNumber, const QString& pixelSpacing,
                   const QDateTime& now) {
    imaging::UidGenerator generator;
    ImportUids uids;
    uids.study = generator.newUid();
    uids.series = generator.newUid();
    uids.image = generator.newUid();
    applyAttributes(image, importAttributes(uids, cowNumber, pixelSpacing, now));
}

QString measurementFolder(const QString& root, const QDate& studyDate) {
    return root + QLatin1Char('/') + core::names::kMeasurements + QLatin1Char('/') +
           core::names::kArchivePrefix + studyDate.toString(core::names::kFolderDateFormat);
}

void createMeasurementFolder(const QString& folder) {
    modGlobal::FileSystem& fs = modGlobal::fso();
    if (!fs.FolderExists(folder))
        fs.CreateFolder(folder);
    for (const QString& sub : kMeasurementSubfolders) {
        const QString path = folder + QLatin1Char('/') + sub;
        if (!fs.FolderExists(path))
            fs.CreateFolder(path);
    }
}

QString generalDateText(const QDateTime& stamp) {
    const QLocale locale;
    QString text = locale.toString(stamp.date(), QLocale::ShortFormat);
    const QTime t = stamp.time();
    if (t.hour() != 0 || t.minute() != 0 || t.second() != 0)
        text += QLatin1Char(' ') + locale.toString(t, QLocale::ShortFormat);
    return text;
}

QDate initialStudyDate(const QString& stored, const QDateTime& lastModified) {
    // The general date form of the default is not read back: its two-digit
    // year would be taken for the wrong century.
    if (const std::optional<QDate> date = core::names::parseDate(stored);
        date && *date >= kFirstStudyDate && *date <= kLastStudyDate)
        return *date;
    return lastModified.date();
}

} // namespace importer
