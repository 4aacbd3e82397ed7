#include "modINI.h"

#include "modGlobal.h"

#include "core/AtomicFile.h"
#include "core/Causes.h"
#include "core/Names.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>

namespace modINI {

namespace {

// The file's own encoding. A byte-order mark names UTF-16 or UTF-8; without
// one, a file that is valid UTF-8 is UTF-8 and any other is in the Windows
// code page of Western Europe (windows-1252).
enum class Encoding { Utf8, CodePage, Utf16LE, Utf16BE };

const char* const kCodePage = "windows-1252";

// One line of the file as bytes, with its own line ending kept apart so an
// untouched line is written back exactly as it was read.
struct Line {
    QByteArray text;
    QByteArray ending; // CR LF, LF or CR in the file's encoding; empty for a last line without one
};

// The file split into its byte-order mark, its lines and, in UTF-16, an odd
// last byte that belongs to no character; it stays at the end of the file.
struct Document {
    Encoding encoding = Encoding::Utf8;
    QByteArray bom;
    QList<Line> lines;
    QByteArray oddByte;
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

bool isUtf16(Encoding encoding) {
    return encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE;
}

// The code unit at byte offset at; UTF-16 units are taken as they are, so
// that any sequence of them, even an invalid one, survives unchanged.
char16_t unitAt(const QByteArray& data, qsizetype at, Encoding encoding) {
    const auto byte = [&](qsizetype i) { return static_cast<char16_t>(uchar(data.at(i))); };
    if (encoding == Encoding::Utf16LE)
        return static_cast<char16_t>(byte(at) | byte(at + 1) << 8);
    if (encoding == Encoding::Utf16BE)
        return static_cast<char16_t>(byte(at) << 8 | byte(at + 1));
    return byte(at);
}

// Lines end at LF, CR LF or a lone CR; data holds whole code units.
QList<Line> splitLines(const QByteArray& data, Encoding encoding) {
    const qsizetype unit = isUtf16(encoding) ? 2 : 1;
    QList<Line> lines;
    qsizetype start = 0;
    for (qsizetype at = 0; at < data.size(); at += unit) {
        const char16_t c = unitAt(data, at, encoding);
        if (c != u'\n' && c != u'\r')
            continue;
        qsizetype end = at + unit;
        if (c == u'\r' && end < data.size() && unitAt(data, end, encoding) == u'\n')
            end += unit;
        lines.append({data.mid(start, at - start), data.mid(at, end - at)});
        start = end;
        at = end - unit;
    }
    if (start < data.size())
        lines.append({data.mid(start), {}});
    return lines;
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // The decoder converts only when its result becomes a string.
    const QString text = utf8.decode(bytes);
    return !utf8.hasError();
}

Document parseDocument(const QByteArray& data) {
    Document document;
    if (data.startsWith("\xFF\xFE"))
        document.encoding = Encoding::Utf16LE;
    else if (data.startsWith("\xFE\xFF"))
        document.encoding = Encoding::Utf16BE;
    else if (!data.startsWith("\xEF\xBB\xBF") && !isValidUtf8(data))
        document.encoding = Encoding::CodePage;
    if (isUtf16(document.encoding))
        document.bom = data.left(2);
    else if (data.startsWith("\xEF\xBB\xBF"))
        document.bom = data.left(3);
    QByteArray body = data.mid(document.bom.size());
    if (isUtf16(document.encoding) && body.size() % 2 != 0) {
        document.oddByte = body.right(1);
        body.chop(1);
    }
    document.lines = splitLines(body, document.encoding);
    return document;
}

QString decode(const QByteArray& bytes, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8:
        return QString::fromUtf8(bytes);
    case Encoding::CodePage:
        return QStringDecoder(kCodePage, QStringDecoder::Flag::Stateless).decode(bytes);
    case Encoding::Utf16LE:
    case Encoding::Utf16BE:
        break;
    }
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(unitAt(bytes, 2 * i, encoding));
    return text;
}

// The text in the file's encoding; nullopt when the code page lacks one of
// its characters, so a value is never stored changed.
std::optional<QByteArray> encode(const QString& text, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::CodePage: {
        QStringEncoder encoder(kCodePage, QStringEncoder::Flag::Stateless);
        QByteArray bytes = encoder.encode(text);
        if (encoder.hasError())
            return std::nullopt;
        return bytes;
    }
    case Encoding::Utf16LE:
    case Encoding::Utf16BE:
        break;
    }
    QByteArray bytes;
    bytes.reserve(2 * text.size());
    for (const QChar c : text) {
        const char high = static_cast<char>(c.unicode() >> 8);
        const char low = static_cast<char>(c.unicode() & 0xFF);
        if (encoding == Encoding::Utf16LE)
            bytes.append(low).append(high);
        else
            bytes.append(high).append(low);
    }
    return bytes;
}

ParsedLine parseLine(const QByteArray& bytes, Encoding encoding) {
    ParsedLine line;
    const QString text = decode(bytes, encoding);
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

Location locate(const Document& document, const QString& section, const QString& key) {
    const QList<Line>& lines = document.lines;
    Location location;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        ParsedLine line = parseLine(lines.at(i).text, document.encoding);
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
