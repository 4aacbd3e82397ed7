// The measurement record as a spreadsheet program and a hand editor see it.
#include "CsvReader.h"
#include "TestSupport.h"
#include "core/Names.h"
#include "record/Record.h"

#include <QtTest>

using record::Entry;
using record::Value;

namespace {

const QStringList kHeader = {"Kuhnummer",  "Bild-UID", "Studiendatum", "Gespeichert",
                             "Startlinie", "Einheit",  "Länge 1",      "Länge 2"};

// Lengths measured from one start line in one unit.
QList<Value> lengths(const QString& startLine, const QString& unit, const QStringList& lengths) {
    QList<Value> values;
    for (const QString& length : lengths)
        values << Value{length, unit, startLine};
    return values;
}

} // namespace

class tst_Record : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString file() const { return record::recordFile(dir.path()); }
    void save(const Entry& entry) const { record::saveEntries(dir.path(), {entry}); }

private Q_SLOTS:
    void init() { QFile::remove(file()); }

    void rowsFollowSaveRenumberAndDelete() {
        // Neither a renumber nor a delete creates a record.
        record::renumberEntry(dir.path(), "1.1", "17", "9", "1.9");
        record::removeEntry(dir.path(), "1.1", "17");
        QVERIFY(!QFile::exists(file()));

        save({"17", "1.1", "05.12.2026", "05.12.2026 09:00:00",
              lengths("100", "mm", {"30", "12,2"})});
        save({"=2+3", "1.2", "05.12.2026", "05.12.2026 09:01:00", lengths("80", "px", {"7"})});
        const QByteArray bytes = readFile(file());
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"
                                 "Kuhnummer;Bild-UID;"));
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count("\r\n"), 3);

        // Saved again with fewer lines: the row is replaced where it stands.
        save({"17", "1.1", "05.12.2026", "05.12.2026 09:05:00", lengths("100", "mm", {"31,5"})});
        QList<QStringList> expected = {
            kHeader,
            {"17", "1.1", "05.12.2026", "05.12.2026 09:05:00", "100", "mm", "31,5", ""},
            {"'=2+3", "1.2", "05.12.2026", "05.12.2026 09:01:00", "80", "px", "7", ""}};
        QCOMPARE(csvRows(file()), expected);

        record::renumberEntry(dir.path(), "1.2", "=2+3", "119", "1.3");
        expected[2][0] = "119";
        expected[2][1] = "1.3";
        QCOMPARE(csvRows(file()), expected);

        record::removeEntry(dir.path(), "1.1", "17");
        record::removeEntry(dir.path(), "1.1", "17");
        expected.removeAt(1);
        QCOMPARE(csvRows(file()), expected);

        // Images without a UID are told apart by their number.
        for (const QString number : {"5", "6"})
            save({number, "", "", "07.12.2026 08:00:00", lengths("1", "px", {"2"})});
        record::removeEntry(dir.path(), "", "5");
        expected.append({"6", "", "", "07.12.2026 08:00:00", "1", "px", "2", ""});
        QCOMPARE(csvRows(file()), expected);
    }

    // Free text a spreadsheet would evaluate starts with an apostrophe.
    void formulaStartsAreKeptAsText() {
        record::saveEntries(
            dir.path(),
            {{"+49", "1.1", "", "", {}}, {"-3", "1.2", "", "", {}}, {"@A1", "1.3", "", "", {}}});
        const QList<QStringList> rows = csvRows(file());
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[1][0], "'+49");
        QCOMPARE(rows[2][0], "'-3");
        QCOMPARE(rows[3][0], "'@A1");
    }

    // A UID that begins another one names a different image.
    void rowsFoundByTheWholeUid() {
        save({"34", "1.2.34", "", "07.12.2026 08:00:00", lengths("1", "px", {"2"})});
        save({"3", "1.2.3", "", "07.12.2026 08:01:00", lengths("1", "px", {"5"})});
        const QStringList kept = {"34", "1.2.34", "", "07.12.2026 08:00:00", "1", "px", "2"};
        QList<QStringList> expected = {
            kHeader.mid(0, 7), kept, {"3", "1.2.3", "", "07.12.2026 08:01:00", "1", "px", "5"}};
        QCOMPARE(csvRows(file()), expected);

        record::renumberEntry(dir.path(), "1.2.3", "3", "4", "1.2.4");
        expected[2][0] = "4";
        expected[2][1] = "1.2.4";
        QCOMPARE(csvRows(file()), expected);
        record::removeEntry(dir.path(), "1.2", "");
        QCOMPARE(csvRows(file()), expected);
    }

    void handEditedRecordIsKept() {
        // Reordered and added columns, a sum row, a blank line, a note and a
        // quoted field holding ";", CR and LF.
        const QByteArray kept = "Summe;;;=SUMME(D3:D9)\r\n"
                                "\r\n"
                                "Notiz in K\xC3\xA4rnten\r\n";
        writeFile(file(), "\xEF\xBB\xBF"
                          "Bild-UID;Bemerkung;Kuhnummer;L\xC3\xA4nge 1\r\n" +
                              kept + "1.1;\"lahmt; \"\"links\"\"\r\nseit Mai\";17;30\n");
        save({"17", "1.1", "05.12.2026", "07.12.2026 10:00:00",
              lengths("90", "mm", {"31,5", "40"})});
        save({"18", "1.2", "05.12.2026", "07.12.2026 10:01:00", lengths("90", "mm", {"20"})});
        QCOMPARE(readFile(file()),
                 "\xEF\xBB\xBF"
                 "Bild-UID;Bemerkung;Kuhnummer;L\xC3\xA4nge 1;Studiendatum;Gespeichert;"
                 "Startlinie;Einheit;L\xC3\xA4nge 2\r\n" +
                     kept +
                     "1.1;\"lahmt; \"\"links\"\"\r\nseit Mai\";17;31,5;05.12.2026;"
                     "07.12.2026 10:00:00;90;mm;40\r\n"
                     "1.2;;18;20;05.12.2026;07.12.2026 10:01:00;90;mm;\r\n");

        // Without a "Bild-UID" column no row can be found: nothing is changed.
        const QByteArray foreign = "Kuh;Wert\r\n17;30\r\n";
        writeFile(file(), foreign);
        QVERIFY_THROWS_EXCEPTION(record::RecordError, save({}));
        QVERIFY_THROWS_EXCEPTION(record::RecordError, record::removeEntry(dir.path(), "1.1", "17"));
        QCOMPARE(readFile(file()), foreign);
    }

    void everyLengthKeepsItsUnitAndStartLine() {
        // Units differ, then start lines too: only what differs gets a
        // column per length, and the shared cell stays empty.
        save({"17",
              "1.1",
              "05.12.2026",
              "07.12.2026 09:00:00",
              {{"7", "mm", "80"}, {"8", "px", "80"}}});
        save({"18",
              "1.2",
              "05.12.2026",
              "07.12.2026 09:01:00",
              {{"20", "mm", "100"}, {"200", "px", "100"}, {"200", "px", "50"}}});
        QList<QStringList> expected = {
            {"Kuhnummer", "Bild-UID", "Studiendatum", "Gespeichert", "Startlinie", "Einheit",
             "Länge 1", "Einheit 1", "Länge 2", "Einheit 2", "Startlinie 1", "Startlinie 2",
             "Länge 3", "Einheit 3", "Startlinie 3"},
            {"17", "1.1", "05.12.2026", "07.12.2026 09:00:00", "80", "", "7", "mm", "8", "px"},
            {"18", "1.2", "05.12.2026", "07.12.2026 09:01:00", "", "", "20", "mm", "200", "px",
             "100", "100", "200", "px", "50"}};
        QCOMPARE(csvRows(file()), expected);

        // Saved again from one start line in one unit: no value of the
        // earlier save stays beside the new one.
        save({"18", "1.2", "05.12.2026", "07.12.2026 09:02:00", lengths("90", "mm", {"31,5"})});
        expected[2] =
            QStringList{"18", "1.2", "05.12.2026", "07.12.2026 09:02:00", "90", "mm", "31,5"} +
            QStringList(8);
        QCOMPARE(csvRows(file()), expected);
    }

    void spreadsheetRecordInWindows1252() {
        // Saved by a German spreadsheet: Windows-1252 without BOM, ";", CRLF.
        writeFile(file(), "Kuhnummer;Bild-UID;Studiendatum;Gespeichert;Startlinie;Einheit;"
                          "L\xE4nge 1;L\xE4nge 2;Bemerkung\r\n"
                          "17;1.1;05.12.2026;05.12.2026 09:00:00;100;mm;30;12,2;K\xE4lte \x80\r\n"
                          "18;1.2;05.12.2026;05.12.2026 09:01:00;100;mm;7;;\r\n");
        save({"17", "1.1", "05.12.2026", "07.12.2026 10:00:00", lengths("90", "mm", {"31,5"})});
        // One encoding, UTF-8 with BOM; the columns found, none added.
        QCOMPARE(csvRows(file()),
                 (QList<QStringList>{{"Kuhnummer", "Bild-UID", "Studiendatum", "Gespeichert",
                                      "Startlinie", "Einheit", "Länge 1", "Länge 2", "Bemerkung"},
                                     {"17", "1.1", "05.12.2026", "07.12.2026 10:00:00", "90", "mm",
                                      "31,5", "", "Kälte €"},
                                     {"18", "1.2", "05.12.2026", "05.12.2026 09:01:00", "100", "mm",
                                      "7", "", ""}}));

        // A record that a spreadsheet and an earlier save left in both
        // encodings: each line is read in its own. Bytes Windows-1252 leaves
        // undefined and a cut UTF-8 sequence are kept as characters.
        writeFile(file(), "\xEF\xBB\xBF"
                          "Bild-UID;L\xC3\xA4nge 1\r\n"
                          "Notiz: K\xE4lte;\r\n"
                          "\x81\x9D\xC3\r\n");
        record::removeEntry(dir.path(), "1.9", "9");
        save({"17", "1.1", "05.12.2026", "07.12.2026 10:00:00", lengths("90", "mm", {"31,5"})});
        QCOMPARE(csvRows(file()).value(1), (QStringList{"Notiz: Kälte", ""}));
        QCOMPARE(csvRows(file()).value(2), QStringList{QStringLiteral("\u0081\u009D\u00C3")});
        QCOMPARE(csvRows(file()).value(0).value(1), QStringLiteral("Länge 1"));
    }

    void failedWriteKeepsTheOldRecord() {
#if !defined(Q_OS_UNIX)
        QSKIP("Needs POSIX file size limits.");
#else
        const QByteArray before = "Bild-UID\r\n" + QByteArray(4000, 'x') + "\r\n";
        writeFile(file(), before);
        QString message;
        try {
            const FileSizeLimit limit(before.size() + 16);
            save({"17", "1.1", "05.12.2026", "07.12.2026 10:00:00", lengths("90", "mm", {"31,5"})});
        } catch (const record::RecordError& error) {
            message = error.message();
        }
        QVERIFY2(message.contains("konnte nicht geschrieben werden"), qPrintable(message));
        QCOMPARE(readFile(file()), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{core::names::kRecordFile});
#endif
    }
};

QTEST_GUILESS_MAIN(tst_Record)
#include "tst_record.moc"
