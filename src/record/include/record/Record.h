#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "core/Error.h"

// The measurement record of a measurement folder: "Messwerte.csv" beside
// Original and Gemessen, one row per measured copy. It is written for German
// spreadsheet programs: UTF-8 with BOM, ";" between fields, CRLF line ends,
// a German header line. A record saved by a spreadsheet in Windows-1252 is
// read as such (each line that is not valid UTF-8) and written back whole in
// UTF-8 with BOM, so the file never mixes two encodings.
//
// "Startlinie" and "Einheit" hold the start line and unit of a row's lengths
// when all of them share it. Where they differ, that cell stays empty and
// each length k gets its own in "Startlinie k" or "Einheit k"; the record
// never states a start line or unit that a length was not measured with.
//
// Every change reads the whole file, changes the one row it concerns and
// writes the file anew through a temporary file that replaces the old one
// only when complete. Rows are found by their "Bild-UID" (images without one
// by their cow number); every other row, and every column the operator added,
// stays as it was (byte for byte, apart from the change to UTF-8), so a table
// edited by hand survives, rows that cannot be read included.
namespace record {

// One measured length with the unit and start line it was measured with.
struct Value {
    QString length;    // with the locale's decimal separator
    QString unit;      // "mm" or "px"
    QString startLine; // image row the line starts from
};

// One measured copy as the record holds it; all values already formatted.
struct Entry {
    QString number;      // the cow number
    QString uid;         // SOP Instance UID of the unmeasured image
    QString studyDate;   // "TT.MM.JJJJ", or the stored text when no date
    QString savedAt;     // "TT.MM.JJJJ hh:mm:ss"
    QList<Value> values; // in the order drawn
};

// A record that cannot be read or written; what() is a German sentence (UTF-8)
// naming the file and the cause. The file is unchanged when it is thrown.
class RecordError : public core::Error {
public:
    explicit RecordError(const QString& message);
};

// The record file of a measurement folder.
QString recordFile(const QString& folder);

// Enters saved copies in one write: each replaces the row with its UID, or
// is appended. Creates the record when there is none.
void saveEntries(const QString& folder, const QList<Entry>& entries);

// An image got a new number and UID: its row follows. No record, no row: nothing.
void renumberEntry(const QString& folder, const QString& oldUid, const QString& oldNumber,
                   const QString& number, const QString& newUid);

// An image was deleted: its row leaves. No record, no row: nothing.
void removeEntry(const QString& folder, const QString& uid, const QString& number);

// The record as stored, for reading its values: the header's fields and
// each later row's fields with the file line it starts on (1 is the header).
// Cells a formula guard protected come back without their apostrophe.
struct StoredRow {
    int line = 0;
    QStringList fields;
};
struct StoredRecord {
    QStringList header;
    QList<StoredRow> rows;
};

// Reads a folder's record; empty when there is none. Throws RecordError when
// it cannot be read or has no "Bild-UID" column.
StoredRecord readRecord(const QString& folder);

// How "Studiendatum" and "Gespeichert" hold a date and a time, as German
// spreadsheets read them.
inline const QString kDateFormat = QStringLiteral("dd.MM.yyyy");
inline const QString kTimeFormat = QStringLiteral("dd.MM.yyyy HH:mm:ss");

// The Derivation Description of the measured copies.
inline const QString kMeasuredCopyDerivation =
    QStringLiteral("Messlinien und Messwerte eingebrannt");

// Reads the values line that ends a measured copy's Image Comments
// ("Messwerte ab Startlinie 100: 30 mm; 12,2 px", "Messwerte: 30 mm ab
// Startlinie 100; 12 mm ab Startlinie 80", "Messwerte: keine") into values;
// false for any other text.
bool readValuesLine(const QString& comments, QList<Value>& values);

} // namespace record
