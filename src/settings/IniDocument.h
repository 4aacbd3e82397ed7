#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The settings file as lines of bytes in its own encoding, so that a change
// of one line leaves every other byte of the file as it was.
namespace modINI::detail {

// The file's own encoding. A byte-order mark names UTF-16 or UTF-8; without
// one, a file that is valid UTF-8 is UTF-8 and any other is in the Windows
// code page of Western Europe (windows-1252).
enum class Encoding { Utf8, CodePage, Utf16LE, Utf16BE };

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

// Splits the file's bytes by its encoding, byte-order mark and line ends.
Document parseDocument(const QByteArray& data);

// The text in the file's encoding; nullopt when the code page lacks one of
// its characters, so a value is never stored changed.
std::optional<QByteArray> encode(const QString& text, Encoding encoding);

Location locate(const Document& document, const QString& section, const QString& key);

} // namespace modINI::detail
