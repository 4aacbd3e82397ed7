#include "modINI.h"

#include "modGlobal.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSaveFile>
#include <QStringDecoder>

namespace modINI {

namespace {

// One line of the file as bytes, with its own line ending kept apart so an
// untouched line is written back exactly as it was read.
struct Line {
    QByteArray text;
    QByteArray ending; // "\r\n", "\n", or empty for a last line without one
};

enum class Kind { Other, Section, Key };

struct ParsedLine {
    Kind kind = Kind::Other;
    QString name;   // section or key name, trimmed
    QString prefix; // key line: everything up to the value, blanks included
    QString value;  // key line: the value, trimmed
};

// Where a key lives. Only the first section of a name counts, and within it
// the first line of the key.
struct Location {
    qsizetype sectionLine = -1;
    qsizetype lastKeyLine = -1;
    qsizetype keyLine = -1;
    ParsedLine key;
};

QList<Line> splitLines(const QByteArray& data) {
    QList<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype newline = data.indexOf('\n', start);
        if (newline < 0) {
            lines.append({data.mid(start), {}});
            break;
        }
        qsizetype end = newline;
        if (end > start && data.at(end - 1) == '\r')
            --end;
        lines.append({data.mid(start, end - start), data.mid(end, newline + 1 - end)});
        start = newline + 1;
    }
    return lines;
}

QString decode(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

ParsedLine parseLine(const QByteArray& bytes) {
    ParsedLine line;
    const QString text = decode(bytes);
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1Char('['))) {
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        line.kind = Kind::Section;
        line.name = trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed();
        return line;
    }
    if (trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
        return line;
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals < 0)
        return line;
    qsizetype valueStart = equals + 1;
    while (valueStart < text.size() && text.at(valueStart).isSpace())
        ++valueStart;
    line.kind = Kind::Key;
    line.name = text.left(equals).trimmed();
    line.prefix = text.left(valueStart);
    line.value = text.mid(valueStart).trimmed();
    return line;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

Location locate(const QList<Line>& lines, const QString& section, const QString& key) {
    Location location;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        ParsedLine line = parseLine(lines.at(i).text);
        if (line.kind == Kind::Section) {
            if (location.sectionLine >= 0)
                break;
            if (sameName(line.name, section))
                location.sectionLine = i;
        } else if (line.kind == Kind::Key && location.sectionLine >= 0) {
            location.lastKeyLine = i;
            if (sameName(line.name, key)) {
                location.keyLine = i;
                location.key = std::move(line);
                break;
            }
        }
    }
    return location;
}

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

QByteArray fileLineEnding(const QByteArray& data) {
    const qsizetype newline = data.indexOf('\n');
    if (newline > 0 && data.at(newline - 1) == '\r')
        return QByteArrayLiteral("\r\n");
    if (newline >= 0)
        return QByteArrayLiteral("\n");
    return QByteArrayLiteral("\r\n");
}

} // namespace

QString settingsFile() {
    return modGlobal::workspaceRoot() + QStringLiteral("/Settings.ini");
}

QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& fileName, int size) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fitToSize(defaultValue, size);
    const Location location = locate(splitLines(file.readAll()), section.trimmed(), key.trimmed());
    if (location.keyLine < 0)
        return fitToSize(defaultValue, size);
    return fitToSize(location.key.value, size);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName) {
    const QString keyName = key.trimmed();
    const QString sectionName = section.trimmed();
    if (keyName.isEmpty() || keyName.contains(QLatin1Char('=')) ||
        keyName.startsWith(QLatin1Char('[')) || keyName.startsWith(QLatin1Char(';')) ||
        keyName.startsWith(QLatin1Char('#')) || sectionName.contains(QLatin1Char(']')) ||
        breaksStructure(keyName) || breaksStructure(sectionName) || breaksStructure(value))
        return false;

    // An existing file that cannot be read must not be replaced by one that
    // holds only the new key.
    QByteArray data;
    QFile existing(fileName);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return false;
        data = existing.readAll();
        if (existing.error() != QFileDevice::NoError)
            return false;
        existing.close();
    }

    const QByteArray ending = fileLineEnding(data);
    QList<Line> lines = splitLines(data);
    const Location location = locate(lines, sectionName, keyName);
    const QByteArray keyLine = (keyName + QLatin1Char('=') + value).toUtf8();

    if (location.keyLine >= 0) {
        lines[location.keyLine].text = (location.key.prefix + value).toUtf8();
    } else if (location.sectionLine >= 0) {
        const qsizetype after = qMax(location.sectionLine, location.lastKeyLine);
        if (lines[after].ending.isEmpty())
            lines[after].ending = ending;
        lines.insert(after + 1, {keyLine, ending});
    } else {
        if (!lines.isEmpty() && lines.last().ending.isEmpty())
            lines.last().ending = ending;
        lines.append({(QLatin1Char('[') + sectionName + QLatin1Char(']')).toUtf8(), ending});
        lines.append({keyLine, ending});
    }

    QByteArray output;
    output.reserve(data.size() + keyLine.size() + sectionName.size() + 8);
    for (const Line& line : std::as_const(lines)) {
        output += line.text;
        output += line.ending;
    }

    // Unbuffered, a short write (disk full) is seen here; through the buffer
    // commit() would rename the cut file over the settings.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(output) != output.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace modINI
