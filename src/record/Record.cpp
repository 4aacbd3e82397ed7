#include "record/Record.h"

#include "core/AtomicFile.h"
#include "core/Causes.h"
#include "core/Names.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

namespace record {

RecordError::RecordError(const QString& message) : core::Error(message) {}

QString recordFile(const QString& folder) {
    return folder + QLatin1Char('/') + core::names::kRecordFile;
}

namespace {

const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");
const QString kUidColumn = QStringLiteral("Bild-UID");
const QString kNumberColumn = QStringLiteral("Kuhnummer");
const QString kStartLineColumn = QStringLiteral("Startlinie");
const QString kUnitColumn = QStringLiteral("Einheit");
const QString kLengthColumn = QStringLiteral("Länge");

// The column of length k's own value: "Länge 2", "Einheit 2", "Startlinie 2".
QString valueColumn(const QString& name, qsizetype k) {
    return name + QLatin1Char(' ') + QString::number(k);
}

// The text all values share in one field, or nothing when they differ.
std::optional<QString> shared(const QList<Value>& values, QString Value::*field) {
    for (const Value& value : values)
        if (value.*field != values.front().*field)
            return std::nullopt;
    return values.isEmpty() ? QString() : values.front().*field;
}

// A line of the record file as UTF-8: unchanged when it is valid UTF-8,
// else read as Windows-1252, the encoding German spreadsheets save CSV in.
// Throws when Qt was built without that encoding, rather than lose the text.
QByteArray asUtf8(const QByteArray& line, const QString& file) {
    if (line.isValidUtf8())
        return line;
    QStringDecoder windows1252("windows-1252");
    if (!windows1252.isValid())
        throw RecordError(QStringLiteral("Die Messwerttabelle \u201E%1\u201C ist nicht in UTF-8 "
                                         "geschrieben, und ihr Zeichensatz Windows-1252 kann "
                                         "hier nicht gelesen werden.")
                              .arg(QDir::toNativeSeparators(file)));
    return QString(windows1252(line)).toUtf8();
}

// The records of a CSV text: split at line ends outside quotes, each without
// its line end. Blank lines are records too, so they survive a rewrite.
QList<QByteArray> splitRecords(const QByteArray& text) {
    QList<QByteArray> records;
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else if (text[i] == '\n' && !quoted) {
            const qsizetype end = i > start && text[i - 1] == '\r' ? i - 1 : i;
            records << text.sliced(start, end - start);
            start = i + 1;
        }
    }
    if (start < text.size())
        records << text.sliced(start);
    return records;
}

// The fields of one record with quotes removed ("" inside quotes is one ").
QList<QByteArray> splitFields(const QByteArray& record) {
    QList<QByteArray> fields(1);
    bool quoted = false;
    for (qsizetype i = 0; i < record.size(); ++i) {
        const char ch = record[i];
        if (ch == '"') {
            if (quoted && i + 1 < record.size() && record[i + 1] == '"') {
                fields.last() += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (ch == ';' && !quoted) {
            fields << QByteArray();
        } else {
            fields.last() += ch;
        }
    }
    return fields;
}

QByteArray joinFields(const QList<QByteArray>& fields) {
    QByteArray record;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            record += ';';
        const QByteArray& field = fields[i];
        if (field.contains(';') || field.contains('"') || field.contains('\n') ||
            field.contains('\r')) {
            QByteArray escaped = field;
            record += '"' + escaped.replace("\"", "\"\"") + '"';
        } else {
            record += field;
        }
    }
    return record;
}

const QString kFormulaStarts = QStringLiteral("=+-@\t\r");

// Free text a spreadsheet would run as a formula ("=...", "+...") is kept
// as text by a leading apostrophe.
QByteArray textCell(const QString& text) {
    if (!text.isEmpty() && kFormulaStarts.contains(text.front()))
        return "'" + text.toUtf8();
    return text.toUtf8();
}

// The text textCell was made from.
QString fromTextCell(const QByteArray& cell) {
    const QString text = QString::fromUtf8(cell);
    if (text.size() > 1 && text.front() == QLatin1Char('\'') && kFormulaStarts.contains(text[1]))
        return text.mid(1);
    return text;
}

// The record file in memory: the header's fields and every later record as
// read, parsed only where a row is changed.
class Table {
public:
    explicit Table(const QString& file) : m_file(file) {
        QFile in(file);
        if (!in.exists())
            return;
        QByteArray text;
        if (in.open(QIODevice::ReadOnly))
            text = in.readAll();
        if (!in.isOpen() || in.error() != QFileDevice::NoError)
            throw RecordError(
                QStringLiteral("Die Messwerttabelle \u201E%1\u201C kann nicht gelesen werden. %2")
                    .arg(QDir::toNativeSeparators(file), core::fileCause(in)));
        if (text.startsWith(kBom))
            text.remove(0, kBom.size());
        m_rows = splitRecords(text);
        for (QByteArray& row : m_rows)
            row = asUtf8(row, file);
        if (m_rows.isEmpty())
            return;
        m_headerLines = lineCount(m_rows.front());
        m_header = splitFields(m_rows.takeFirst());
        if (indexOf(kUidColumn) < 0)
            throw RecordError(
                QStringLiteral("Die Messwerttabelle \u201E%1\u201C hat keine Spalte "
                               "\u201E%2\u201C in ihrer ersten Zeile und wird deshalb "
                               "nicht verändert. Bitte stellen Sie die Kopfzeile "
                               "wieder her oder benennen Sie die Datei um.")
                    .arg(QDir::toNativeSeparators(file), kUidColumn));
    }

    // The row of an image: the one holding uid in its "Bild-UID" field; for
    // an image without UID the one with an empty UID and its number.
    qsizetype find(const QString& uid, const QString& number) const {
        const qsizetype uidColumn = indexOf(kUidColumn);
        const qsizetype numberColumn = indexOf(kNumberColumn);
        if (uidColumn < 0 || (uid.isEmpty() && numberColumn < 0))
            return -1;
        const QByteArray key = uid.toUtf8();
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            if (!key.isEmpty() && !m_rows[i].contains(key))
                continue;
            const QList<QByteArray> fields = splitFields(m_rows[i]);
            if (uidColumn < fields.size() && fields[uidColumn].trimmed() == key &&
                (!key.isEmpty() ||
                 (numberColumn < fields.size() && fields[numberColumn] == textCell(number))))
                return i;
        }
        return -1;
    }

    // Sets the named fields of row (appended when -1); with
    // clearOtherValues also empties every other "Länge k", "Einheit k" and
    // "Startlinie k" field, so no value of an earlier save stays. Other
    // fields keep their values. A column missing from the header is added at
    // its end, so a new table gets the columns in the order of values.
    void setFields(qsizetype row, const QList<std::pair<QString, QByteArray>>& values,
                   bool clearOtherValues) {
        QList<QByteArray> fields = row < 0 ? QList<QByteArray>() : splitFields(m_rows[row]);
        auto set = [&](qsizetype index, const QByteArray& value) {
            if (fields.size() <= index)
                fields.resize(index + 1);
            fields[index] = value;
        };
        static const QRegularExpression valueName(
            QStringLiteral("^(%1|%2|%3) [0-9]+$")
                .arg(kLengthColumn, kUnitColumn, kStartLineColumn));
        for (qsizetype i = 0; clearOtherValues && i < fields.size() && i < m_header.size(); ++i)
            if (valueName.match(QString::fromUtf8(m_header[i]).trimmed()).hasMatch())
                fields[i].clear();
        for (const auto& [name, value] : values)
            set(column(name), value);
        if (fields.size() < m_header.size())
            fields.resize(m_header.size());
        if (row < 0)
            m_rows << joinFields(fields);
        else
            m_rows[row] = joinFields(fields);
    }

    void removeRow(qsizetype row) { m_rows.removeAt(row); }

    StoredRecord stored() const {
        StoredRecord stored;
        for (const QByteArray& field : m_header)
            stored.header << QString::fromUtf8(field).trimmed();
        int line = 1 + m_headerLines;
        for (const QByteArray& row : m_rows) {
            StoredRow& out = stored.rows.emplace_back();
            out.line = line;
            for (const QByteArray& field : splitFields(row))
                out.fields << fromTextCell(field);
            line += lineCount(row);
        }
        return stored;
    }

    void write() const {
        QByteArray text = kBom + joinFields(m_header) + "\r\n";
        for (const QByteArray& row : m_rows)
            text += row + "\r\n";
        try {
            core::replaceFile(m_file, text);
        } catch (const core::FileSystemError& e) {
            throw RecordError(QStringLiteral("Die Messwerttabelle \u201E%1\u201C konnte nicht "
                                             "geschrieben werden; sie bleibt, wie sie war. %2")
                                  .arg(QDir::toNativeSeparators(m_file), e.cause()));
        }
    }

private:
    qsizetype indexOf(const QString& name) const {
        for (qsizetype i = 0; i < m_header.size(); ++i)
            if (QString::fromUtf8(m_header[i]).trimmed() == name)
                return i;
        return -1;
    }

    // The index of a column, added at the header's end when missing.
    qsizetype column(const QString& name) {
        const qsizetype index = indexOf(name);
        if (index >= 0)
            return index;
        m_header << name.toUtf8();
        return m_header.size() - 1;
    }

    // The file lines a record spans: more than one when a quoted field
    // holds a line break.
    static int lineCount(const QByteArray& record) {
        return static_cast<int>(record.count('\n')) + 1;
    }

    QString m_file;
    int m_headerLines = 0;
    QList<QByteArray> m_header;
    QList<QByteArray> m_rows;
};

} // namespace

void saveEntries(const QString& folder, const QList<Entry>& entries) {
    Table table(recordFile(folder));
    for (const Entry& entry : entries) {
        const std::optional<QString> startLine = shared(entry.values, &Value::startLine);
        const std::optional<QString> unit = shared(entry.values, &Value::unit);
        QList<std::pair<QString, QByteArray>> values = {
            {kNumberColumn, textCell(entry.number)},
            {kUidColumn, entry.uid.toUtf8()},
            {QStringLiteral("Studiendatum"), textCell(entry.studyDate)},
            {QStringLiteral("Gespeichert"), entry.savedAt.toUtf8()},
            {kStartLineColumn, startLine.value_or(QString()).toUtf8()},
            {kUnitColumn, unit.value_or(QString()).toUtf8()},
        };
        for (qsizetype k = 1; k <= entry.values.size(); ++k) {
            const Value& value = entry.values[k - 1];
            values.append({valueColumn(kLengthColumn, k), value.length.toUtf8()});
            if (!unit)
                values.append({valueColumn(kUnitColumn, k), value.unit.toUtf8()});
            if (!startLine)
                values.append({valueColumn(kStartLineColumn, k), value.startLine.toUtf8()});
        }
        table.setFields(table.find(entry.uid, entry.number), values, true);
    }
    table.write();
}

void renumberEntry(const QString& folder, const QString& oldUid, const QString& oldNumber,
                   const QString& number, const QString& newUid) {
    Table table(recordFile(folder));
    const qsizetype row = table.find(oldUid, oldNumber);
    if (row < 0)
        return;
    table.setFields(row, {{kNumberColumn, textCell(number)}, {kUidColumn, newUid.toUtf8()}}, false);
    table.write();
}

void removeEntry(const QString& folder, const QString& uid, const QString& number) {
    Table table(recordFile(folder));
    const qsizetype row = table.find(uid, number);
    if (row < 0)
        return;
    table.removeRow(row);
    table.write();
}

StoredRecord readRecord(const QString& folder) {
    return Table(recordFile(folder)).stored();
}

bool readValuesLine(const QString& comments, QList<Value>& values) {
    static const QRegularExpression form(
        QStringLiteral("^Messwerte(?: ab Startlinie (\\S+))?: (.+)$"));
    static const QRegularExpression valueForm(
        QStringLiteral("^(\\S+) (\\S+)(?: ab Startlinie (\\S+))?$"));
    const QRegularExpressionMatch match =
        form.match(comments.mid(comments.lastIndexOf(QLatin1Char('\n')) + 1).trimmed());
    if (!match.hasMatch())
        return false;
    if (match.captured(2) == QStringLiteral("keine"))
        return true;
    QList<Value> read;
    for (const QString& item : match.captured(2).split(QStringLiteral("; "))) {
        const QRegularExpressionMatch value = valueForm.match(item);
        const QString startLine =
            value.captured(3).isEmpty() ? match.captured(1) : value.captured(3);
        if (!value.hasMatch() || startLine.isEmpty())
            return false;
        read << Value{value.captured(1), value.captured(2), startLine};
    }
    values << read;
    return true;
}

} // namespace record
