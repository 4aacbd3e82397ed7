#include "settings/modINI.h"

#include "IniDocument.h"
#include "global/modGlobal.h"

#include "core/AtomicFile.h"
#include "core/Causes.h"
#include "core/Names.h"

#include <QFile>

#include <optional>

namespace modINI {

using namespace detail;

namespace {

// A value is handed out as the platform's text functions would: ending at
// the first NUL and cut to size - 1 characters.
QString fitToSize(const QString& value, int size) {
    QString text = value;
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    text.truncate(qMax(0, size - 1));
    // Never end on half of a surrogate pair.
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.chop(1);
    return text;
}

bool breaksStructure(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
           text.contains(QChar(0));
}

// The ending of the file's first line, or CR LF for a file without one.
QByteArray lineEnding(const Document& document) {
    for (const Line& line : document.lines)
        if (!line.ending.isEmpty())
            return line.ending;
    return *encode(QStringLiteral("\r\n"), document.encoding);
}

} // namespace

QString settingsFile() {
    return modGlobal::workspaceRoot() + QLatin1Char('/') + core::names::kSettingsFile;
}

QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& fileName, int size) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fitToSize(defaultValue, size);
    const Location location =
        locate(parseDocument(file.readAll()), section.trimmed(), key.trimmed());
    if (location.keyLine < 0)
        return fitToSize(defaultValue, size);
    return fitToSize(location.key.value, size);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName, QString* cause) {
    const auto fail = [cause](const QString& why) {
        if (cause)
            *cause = why;
        return false;
    };
    const QString keyName = key.trimmed();
    const QString sectionName = section.trimmed();
    if (keyName.isEmpty() || keyName.contains(QLatin1Char('=')) ||
        keyName.startsWith(QLatin1Char('[')) || keyName.startsWith(QLatin1Char(';')) ||
        keyName.startsWith(QLatin1Char('#')) || sectionName.contains(QLatin1Char(']')) ||
        breaksStructure(keyName) || breaksStructure(sectionName) || breaksStructure(value))
        return fail(QStringLiteral("Der Name oder der Wert enthält ein Zeichen, das die "
                                   "Einstellungsdatei nicht aufnehmen kann."));

    // An existing file that cannot be read must not be replaced by one that
    // holds only the new key.
    QByteArray data;
    QFile existing(fileName);
    if (existing.exists()) {
        if (existing.open(QIODevice::ReadOnly))
            data = existing.readAll();
        if (!existing.isOpen() || existing.error() != QFileDevice::NoError)
            return fail(QStringLiteral("Die Datei kann nicht gelesen werden. ") +
                        core::fileCause(existing));
        existing.close();
    }

    Document document = parseDocument(data);
    const QByteArray ending = lineEnding(document);
    QList<Line>& lines = document.lines;
    const Location location = locate(document, sectionName, keyName);
    const auto line = [&](const QString& text) { return encode(text, document.encoding); };
    const QString notInCodePage =
        QStringLiteral("Die Datei ist in der westeuropäischen Windows-Codepage gespeichert, die "
                       "nicht jedes Zeichen des Wertes kennt.");

    if (location.keyLine >= 0) {
        const std::optional<QByteArray> text = line(location.key.prefix + value);
        if (!text)
            return fail(notInCodePage);
        lines[location.keyLine].text = *text;
    } else {
        const std::optional<QByteArray> keyLine = line(keyName + QLatin1Char('=') + value);
        const std::optional<QByteArray> sectionLine =
            line(QLatin1Char('[') + sectionName + QLatin1Char(']'));
        if (!keyLine || !sectionLine)
            return fail(notInCodePage);
        if (location.sectionLine >= 0) {
            const qsizetype after = qMax(location.sectionLine, location.lastKeyLine);
            if (lines[after].ending.isEmpty())
                lines[after].ending = ending;
            lines.insert(after + 1, {*keyLine, ending});
        } else {
            if (!lines.isEmpty() && lines.last().ending.isEmpty())
                lines.last().ending = ending;
            lines.append({*sectionLine, ending});
            lines.append({*keyLine, ending});
        }
    }

    QByteArray output = document.bom;
    output.reserve(data.size() + 2 * (keyName.size() + sectionName.size() + value.size()) + 16);
    for (const Line& each : std::as_const(lines)) {
        output += each.text;
        output += each.ending;
    }
    output += document.oddByte;

    try {
        core::replaceFile(fileName, output);
    } catch (const core::FileSystemError& e) {
        return fail(e.cause());
    }
    return true;
}

} // namespace modINI
