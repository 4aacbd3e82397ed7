#include "core/Names.h"

#include <QRegularExpression>

namespace core::names {

namespace {

std::optional<QDate> validDate(const QString& year, const QString& month, const QString& day) {
    const QDate date(year.toInt(), month.toInt(), day.toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

std::optional<QDate> parseDate(const QString& text) {
    // [0-9] rather than \d: other scripts' digits are not dates here.
    static const QRegularExpression yearFirst(
        QStringLiteral("^([0-9]{4})([.-])([0-9]{2})\\2([0-9]{2})$"));
    static const QRegularExpression dayFirst(
        QStringLiteral("^([0-9]{2})\\.([0-9]{2})\\.([0-9]{4})$"));
    static const QRegularExpression dicom(QStringLiteral("^([0-9]{4})([0-9]{2})([0-9]{2})$"));

    const QString trimmed = text.trimmed();
    if (const QRegularExpressionMatch m = yearFirst.match(trimmed); m.hasMatch())
        return validDate(m.captured(1), m.captured(3), m.captured(4));
    if (const QRegularExpressionMatch m = dayFirst.match(trimmed); m.hasMatch())
        return validDate(m.captured(3), m.captured(2), m.captured(1));
    if (const QRegularExpressionMatch m = dicom.match(trimmed); m.hasMatch())
        return validDate(m.captured(1), m.captured(2), m.captured(3));
    return std::nullopt;
}

QString formatFolderDate(const QString& text) {
    if (const std::optional<QDate> date = parseDate(text))
        return date->toString(kFolderDateFormat);
    return text;
}

} // namespace core::names
