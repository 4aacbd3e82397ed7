#include "IniDocument.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace modINI::detail {

namespace {

const char* const kCodePage = "windows-1252";

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

} // namespace

Document parseDocument(const QByteArray& data) {
    Document document;
    if (data.startsWith("\xFF\xFE"))
        document.encoding = Encoding::Utf16LE;
    else if (data.startsWith("\xFE\xFF"))
        document.encoding = Encoding::Utf16BE;
    else if (!data.startsWith("\xEF\xBB\xBF") && !data.isValidUtf8())
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

} // namespace modINI::detail
