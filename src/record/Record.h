#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

// The measurement record of a measurement folder: "Messwerte.csv" beside
// Original and Gemessen, one row per measured copy. It is written for German
// spreadsheet programs: UTF-8 with BOM, ";" between fields, CRLF line ends,
// a German header line.
//
// Every change reads the whole file, changes the one row it concerns and
// writes the file anew through a temporary file that replaces the old one
// only when complete. Rows are found by their "Bild-UID" (images without one
// by their cow number); every other row, and every column the operator added,
// stays byte for byte as it was, so a table edited by hand survives, rows
// that cannot be read included.
namespace record {

inline const QString kFileName = QStringLiteral("Messwerte.csv");

// One measured copy as the record holds it; all values already formatted.
struct Entry {
    QString number;      // the cow number
    QString uid;         // SOP Instance UID of the unmeasured image
    QString studyDate;   // "TT.MM.JJJJ", or the stored text when no date
    QString savedAt;     // "TT.MM.JJJJ hh:mm:ss"
    QString startLine;   // image row the lines start from
    QString unit;        // "mm" or "px"
    QStringList lengths; // in the order drawn, with the locale's decimal separator
};

// A record that cannot be read or written; what() is a German sentence (UTF-8)
// naming the file and the cause. The file is unchanged when it is thrown.
class RecordError : public std::runtime_error {
public:
    explicit RecordError(const QString& message);
    QString message() const;
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

} // namespace record
