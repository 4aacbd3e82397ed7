// The day's report: its figures from the record and the measured copies.
#include "DicomFixtures.h"
#include "TestSupport.h"
#include "imaging/Imaging.h"
#include "record/Record.h"
#include "report/Day.h"
#include "report/Pdf.h"
#include "report/Report.h"
#include "report/ReportError.h"
#include "report/Statistics.h"
#include "report/Workbook.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using report::LengthGroup;

namespace {

const QByteArray kHeader = "\xEF\xBB\xBFKuhnummer;Bild-UID;Studiendatum;Gespeichert;Startlinie;"
                           "Einheit;Länge 1;Länge 2\r\n";
// One measured cow of 5 December 2026.
const QByteArray kOneRow = "17;1.1;05.12.2026;05.12.2026 09:00:00;10;mm;30;\r\n";

// A measurement folder with images 1.1, 1.2 … in Original; spacing "" for
// images without Pixel Spacing.
struct Folder {
    QTemporaryDir dir;
    QString path() const { return dir.path(); }
    QString original(const QString& uid) const { return path() + "/Original/" + uid + ".dcm"; }

    void image(const QString& number, const QString& uid, const QString& spacing = {}) const {
        QDir().mkpath(path() + "/Original");
        fixtures::writeDicom(original(uid),
                             {.patientId = number, .sopInstanceUid = uid, .pixelSpacing = spacing});
    }
    // The measured copy of an image as saving makes it, with its values line.
    void copy(const QString& number, const QString& uid, const QString& valuesLine) const {
        QDir().mkpath(path() + "/Gemessen");
        imaging::ImageCollection images;
        images.readFile(original(uid));
        imaging::Image copy = images.item(1).saveImage(true, record::kMeasuredCopyDerivation);
        copy.addAttribute(0x0020, 0x4000, valuesLine);
        copy.write(path() + "/Gemessen/" + number + ".dcm", true);
    }
    void record(const QByteArray& rows) const {
        writeFile(record::recordFile(path()), kHeader + rows);
    }
};

// The text of a PDF as pdftotext extracts it.
QString pdfText(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A workbook as openpyxl reads it: per sheet its cells row by row, each as
// [data type, is a date, value as text], and the number of charts.
QJsonObject readWorkbook(const QString& path) {
    static const QString script = QStringLiteral(
        "import json, sys, openpyxl\n"
        "book = openpyxl.load_workbook(sys.argv[1])\n"
        "out = {}\n"
        "for sheet in book.worksheets:\n"
        "    rows = [[[c.data_type, c.is_date, '' if c.value is None else str(c.value)]\n"
        "             for c in row] for row in sheet.iter_rows()]\n"
        "    out[sheet.title] = {'rows': rows, 'charts': len(sheet._charts)}\n"
        "print(json.dumps(out))\n");
    // The first Python that has openpyxl: a Python of its own on the path may lack it.
    for (const QString& python : {QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")}) {
        QProcess process;
        process.start(python, {QStringLiteral("-c"), script, path});
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
            process.exitCode() == 0)
            return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    }
    return {};
}

// Cell (row, column) of a sheet read by readWorkbook, 0-based.
QJsonArray cell(const QJsonObject& book, const QString& sheet, int row, int column) {
    return book[sheet][QStringLiteral("rows")].toArray()[row].toArray()[column].toArray();
}

report::Animal animal(const QString& number, const QString& uid, QList<report::Length> lengths) {
    report::Animal a;
    a.number = number;
    a.uid = uid;
    a.studyDate = QDate(2026, 12, 5);
    a.studyDateText = QStringLiteral("05.12.2026");
    a.savedAt = QDateTime(QDate(2026, 12, 5), QTime(9, 30, 15));
    a.savedAtText = QStringLiteral("05.12.2026 09:30:15");
    a.lengths = lengths;
    return a;
}

// A day of three cows: Länge 1 in mm for all, Länge 2 in mm for one and in
// px for another.
report::Day threeCows(const QString& folder) {
    report::Day day;
    day.folder = folder;
    day.images = 4;
    const QString spacing = QStringLiteral("Pixelabstand 0,2 mm");
    day.animals = {
        animal("0017", "1.2.2026",
               {{1, 30.5, "30,5", "mm", spacing}, {2, 12, "12", "mm", spacing}}),
        animal("18", "1.2.2027", {{1, 32.5, "32,5", "mm", spacing}, {2, 80, "80", "px", ""}}),
        animal("=19", "1.2.2028", {{1, 28, "28", "mm", spacing}})};
    return day;
}

const LengthGroup* group(const QList<LengthGroup>& groups, int column, const QString& unit,
                         const QString& calibration) {
    for (const LengthGroup& g : groups)
        if (g.column == column && g.unit == unit && g.calibration == calibration)
            return &g;
    return nullptr;
}

} // namespace

class tst_Report : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { imaging::initialise(); }

    void figuresOfSeveralValues() {
        // 30, 32, 34, 40: mean 136 / 4 = 34; squares 16 + 4 + 0 + 36 = 56,
        // sd = sqrt(56 / 3); median (32 + 34) / 2.
        const report::Statistics s = report::statistics({34.0, 30.0, 40.0, 32.0});
        QCOMPARE(s.count, 4);
        QCOMPARE(s.mean, 34.0);
        QVERIFY(s.deviation.has_value());
        QCOMPARE(*s.deviation, 4.320493798938574);
        QCOMPARE(s.minimum, 30.0);
        QCOMPARE(s.median, 33.0);
        QCOMPARE(s.maximum, 40.0);
        // An odd count has its middle value as median.
        QCOMPARE(report::statistics({5.0, 1.0, 3.0}).median, 3.0);
        QCOMPARE(report::formatNumber(*s.deviation, 2), QStringLiteral("4,32"));
        // A single cow has no deviation.
        const report::Statistics one = report::statistics({31.5});
        QCOMPARE(one.count, 1);
        QVERIFY(!one.deviation.has_value());
        QCOMPARE(one.mean, 31.5);
        QCOMPARE(one.median, 31.5);
    }

    void histogramCountsEveryValueOnce() {
        // Four values: ceil(log2 4) + 1 = 3 bins of width 10 / 3 over 30 … 40.
        const report::Histogram h = report::histogram({30.0, 32.0, 34.0, 40.0});
        QCOMPARE(h.counts, (QList<int>{2, 1, 1}));
        QCOMPARE(h.edges.size(), 4);
        QCOMPARE(h.edges.last(), 40.0);
        // Equal values: one bin.
        QCOMPARE(report::histogram({7.0, 7.0}).counts, QList<int>{2});
    }

    void anEmptyFolderHasNoFigures() {
        Folder folder;
        const report::Day day = report::readDay(folder.path());
        QCOMPARE(day.images, 0);
        QVERIFY(day.animals.isEmpty());
        QVERIFY(day.problems.isEmpty());
        QVERIFY(report::lengthGroups(day).isEmpty());
        // Its report still has both files.
        const report::Files files = report::writeReport(folder.path(), {});
        QVERIFY(QFileInfo(files.pdf).size() > 0);
        QVERIFY(QFileInfo(files.workbook).size() > 0);
    }

    void unitsAndCalibrationsAreNeverAveragedTogether() {
        Folder folder;
        folder.image("1", "1.1", "0.2\\0.2");
        folder.image("2", "1.2", "0.2\\0.2");
        folder.image("3", "1.3", "0.25\\0.25");
        folder.image("4", "1.4");
        folder.copy("1", "1.1", "Messwerte ab Startlinie 10: 30 mm");
        folder.copy("2", "1.2", "Messwerte ab Startlinie 10: 31 mm");
        folder.copy("3", "1.3", "Messwerte ab Startlinie 10: 40 mm");
        // The start line does not part groups; the unit and the pixel spacing do.
        folder.record("1;1.1;05.12.2026;05.12.2026 09:00:00;10;mm;30;\r\n"
                      "2;1.2;05.12.2026;05.12.2026 09:01:00;20;mm;31;\r\n"
                      "3;1.3;05.12.2026;05.12.2026 09:02:00;10;mm;40;\r\n"
                      "4;1.4;05.12.2026;05.12.2026 09:03:00;10;px;120;\r\n"
                      "5;1.5;05.12.2026;05.12.2026 09:04:00;10;cm;3;\r\n");
        const report::Day day = report::readDay(folder.path());
        QCOMPARE(day.images, 4);
        QCOMPARE(day.animals.size(), 5);
        QCOMPARE(day.copies(), 3);
        const QList<LengthGroup> groups = report::lengthGroups(day);
        QCOMPARE(groups.size(), 4);
        const LengthGroup* fine = group(groups, 1, "mm", "Pixelabstand 0,2 mm");
        QVERIFY(fine);
        QCOMPARE(fine->figures.mean, 30.5);
        QCOMPARE(*fine->figures.deviation, 0.7071067811865476); // sqrt(0.5 / 1)
        const LengthGroup* coarse = group(groups, 1, "mm", "Pixelabstand 0,25 mm");
        QVERIFY(coarse);
        QCOMPARE(coarse->figures.count, 1);
        const LengthGroup* pixels = group(groups, 1, "px", "");
        QVERIFY(pixels);
        QCOMPARE(pixels->figures.maximum, 120.0);
        // A unit typed by hand is a group of its own too.
        const LengthGroup* centimetres = group(groups, 1, "cm", "");
        QVERIFY(centimetres);
        QCOMPARE(centimetres->figures.count, 1);
    }

    void handEditedRowsAreKeptAsFarAsTheyParse() {
        Folder folder;
        // Line 2 holds a line break inside quotes, so the next row starts on line 4.
        folder.record("\"0017\";1.1;05.12.2026;\"05.12.2026\n09:00:00\";100;mm;30,5;abc\r\n"
                      "'-12;1.2;05.12.2026;05.12.2026 09:01:00;100;mm;29.5;\r\n"
                      ";;;;;;;\r\n"
                      "18;1.3;05.12.2026;05.12.2026 09:02:00;100;;31;\r\n"
                      ";;05.12.2026;;100;mm;33;\r\n");
        const report::Day day = report::readDay(folder.path());
        QCOMPARE(day.animals.size(), 3);
        QCOMPARE(day.animals[0].number, QStringLiteral("0017"));
        QCOMPARE(day.animals[0].lengths.size(), 1);
        QCOMPARE(day.animals[0].lengths[0].value, 30.5);
        QCOMPARE(day.animals[1].number, QStringLiteral("-12"));
        QCOMPARE(day.animals[1].lengths[0].value, 29.5);
        QCOMPARE(day.animals[1].savedAt, QDateTime(QDate(2026, 12, 5), QTime(9, 1, 0)));
        QCOMPARE(day.animals[0].studyDate, QDate(2026, 12, 5));
        // A blank row is no data; every other fault is listed with its line.
        QCOMPARE(day.problems.size(), 4);
        QCOMPARE(day.problems[0].place, QStringLiteral("Zeile 2"));
        QVERIFY(day.problems[0].reason.contains("Gespeichert"));
        QCOMPARE(day.problems[1].place, QStringLiteral("Zeile 2"));
        QVERIFY(day.problems[1].reason.contains("\u201Eabc\u201C"));
        QCOMPARE(day.problems[2].place, QStringLiteral("Zeile 6"));
        QVERIFY(day.problems[2].reason.contains("keine Einheit"));
        QCOMPARE(day.problems[3].place, QStringLiteral("Zeile 7"));
        // Rows without a copy have an unknown calibration, in a group of their own.
        const QList<LengthGroup> groups = report::lengthGroups(day);
        QCOMPARE(groups.size(), 1);
        QCOMPARE(groups[0].figures.count, 2);
        QCOMPARE(groups[0].calibration, report::kUnknownCalibration);
    }

    void copiesStandInForMissingRows() {
        Folder folder;
        folder.image("5", "1.5", "0.2\\0.2");
        folder.image("6", "1.6", "0.2\\0.2");
        folder.copy("5", "1.5", "Messwerte: 12,5 mm ab Startlinie 100; 8 px ab Startlinie 80");
        folder.copy("6", "1.6", "kein Messwert");
        writeFile(folder.path() + "/Gemessen/7.dcm", "no DICOM file at all");
        // A row whose lengths were emptied by hand: its copy's values count.
        folder.image("8", "1.8");
        folder.copy("8", "1.8", "Messwerte ab Startlinie 10: 44 px");
        folder.record("8;1.8;05.12.2026;05.12.2026 09:00:00;;;;\r\n");
        const report::Day day = report::readDay(folder.path());
        QCOMPARE(day.animals.size(), 2);
        QCOMPARE(day.animals[0].number, QStringLiteral("8"));
        QCOMPARE(day.animals[0].lengths.size(), 1);
        QCOMPARE(day.animals[0].lengths[0].value, 44.0);
        const report::Animal& animal = day.animals[1];
        QCOMPARE(animal.number, QStringLiteral("5"));
        QCOMPARE(animal.uid, QStringLiteral("1.5"));
        QCOMPARE(animal.lengths.size(), 2);
        QCOMPARE(animal.lengths[0].value, 12.5);
        QCOMPARE(animal.lengths[0].calibration, QStringLiteral("Pixelabstand 0,2 mm"));
        QCOMPARE(animal.lengths[1].column, 2);
        QCOMPARE(animal.lengths[1].unit, QStringLiteral("px"));
        QVERIFY(animal.savedAt.isValid());
        // The file that is no image and the copy without values are listed.
        QCOMPARE(day.problems.size(), 2);
        QCOMPARE(day.problems[0].place, QStringLiteral("Gemessen/7.dcm"));
        QCOMPARE(day.problems[1].place, QStringLiteral("Gemessen/6.dcm"));
    }

    void aRecordWithoutItsKeyColumnIsListed() {
        Folder folder;
        writeFile(record::recordFile(folder.path()), "Nummer;Wert\r\n17;30\r\n");
        const report::Day day = report::readDay(folder.path());
        QVERIFY(day.animals.isEmpty());
        QCOMPARE(day.problems.size(), 1);
        QCOMPARE(day.problems[0].place, QStringLiteral("Messwerte.csv"));
    }

    void theWorkbookIsTyped() {
        QTemporaryDir dir;
        const report::Day day = threeCows(dir.path());
        report::writeWorkbook(day, report::workbookPath(day));
        const QJsonObject book = readWorkbook(dir.path() + "/Messwerte.xlsx");
        QCOMPARE(book.keys(), (QStringList{"Messwerte", "Statistik"}));
        // Cow numbers and UIDs stay text, a formula-like number too.
        QCOMPARE(cell(book, "Messwerte", 1, 0), (QJsonArray{"s", false, "0017"}));
        QCOMPARE(cell(book, "Messwerte", 1, 1), (QJsonArray{"s", false, "1.2.2026"}));
        QCOMPARE(cell(book, "Messwerte", 3, 0), (QJsonArray{"s", false, "=19"}));
        // Study date and save time are dates.
        QCOMPARE(cell(book, "Messwerte", 1, 2), (QJsonArray{"d", true, "2026-12-05 00:00:00"}));
        QCOMPARE(cell(book, "Messwerte", 1, 3), (QJsonArray{"d", true, "2026-12-05 09:30:15"}));
        // Lengths are numbers, their unit in the header; each unit has its column.
        QCOMPARE(cell(book, "Messwerte", 0, 5), (QJsonArray{"s", false, "Länge 1 (mm)"}));
        QCOMPARE(cell(book, "Messwerte", 1, 5), (QJsonArray{"n", false, "30.5"}));
        QCOMPARE(cell(book, "Messwerte", 0, 6), (QJsonArray{"s", false, "Länge 2 (mm)"}));
        QCOMPARE(cell(book, "Messwerte", 0, 7), (QJsonArray{"s", false, "Länge 2 (px)"}));
        QCOMPARE(cell(book, "Messwerte", 2, 7), (QJsonArray{"n", false, "80"}));
        // One chart per length group; figures of Länge 1: 28, 30.5, 32.5.
        QCOMPARE(book["Statistik"]["charts"].toInt(), 3);
        QCOMPARE(cell(book, "Statistik", 1, 3), (QJsonArray{"n", false, "3"}));
        const QJsonArray mean = cell(book, "Statistik", 1, 4);
        QCOMPARE(mean[0].toString(), QStringLiteral("n"));
        QCOMPARE(mean[2].toString().toDouble(), 91.0 / 3.0);
        QCOMPARE(cell(book, "Statistik", 1, 7), (QJsonArray{"n", false, "30.5"}));
        // A single value has no deviation.
        QCOMPARE(cell(book, "Statistik", 2, 5), (QJsonArray{"s", false, "–"}));
    }

    void unreadableRowsReachTheWorkbook() {
        QTemporaryDir dir;
        report::Day day = threeCows(dir.path());
        day.problems = {{"Zeile 7", "„Länge 1“ ist keine Länge: „abc“."}};
        report::writeWorkbook(day, report::workbookPath(day));
        const QJsonObject book = readWorkbook(dir.path() + "/Messwerte.xlsx");
        QCOMPARE(cell(book, "Nicht gelesen", 1, 0), (QJsonArray{"s", false, "Zeile 7"}));
    }

    void thePdfHoldsEveryCowAndValue() {
        // Fourteen cows: the table and the thumbnails take more than a page each.
        Folder folder;
        QByteArray rows;
        QStringList numbers;
        QStringList values;
        for (int i = 0; i < 14; ++i) {
            const QString number = QStringLiteral("%1").arg(i + 7, 4, 10, QLatin1Char('0'));
            const QString uid = QStringLiteral("1.%1").arg(i + 1);
            const QString first = QStringLiteral("%1,%2").arg(20 + i).arg(i % 10);
            const QString second = QString::number(50 + 2 * i);
            folder.image(number, uid, "0.2\\0.2");
            folder.copy(
                number, uid,
                QStringLiteral("Messwerte ab Startlinie 10: %1 mm; %2 mm").arg(first, second));
            rows += QStringLiteral("%1;%2;05.12.2026;05.12.2026 10:%3:00;10;mm;%4;%5\r\n")
                        .arg(number, uid)
                        .arg(i, 2, 10, QLatin1Char('0'))
                        .arg(first, second)
                        .toUtf8();
            numbers << number;
            values << first + " mm" << second + " mm";
        }
        folder.record(rows + "99;1.99;05.12.2026;;10;mm;abc;\r\n");
        const report::Day day = report::readDay(folder.path());
        const QDateTime made(QDate(2026, 12, 7), QTime(18, 5));
        const QString path = report::pdfPath(day, made);
        QCOMPARE(path, folder.path() + "/Bericht_2026.12.05.pdf");
        QList<int> progress;
        report::writePdf(day, path, made, [&](int done, int total) {
            progress << done;
            QCOMPARE(total, 14);
        });
        QCOMPARE(progress.size(), 14);
        const QString text = pdfText(path);
        for (const QString& number : std::as_const(numbers))
            QVERIFY2(text.contains("Kuh " + number), qPrintable(number));
        for (const QString& value : std::as_const(values))
            // In the table and under the thumbnail (the extremes in the figures too).
            QVERIFY2(text.count(value) >= 2, qPrintable(value));
        QVERIFY(text.contains("Zeile 16"));
        QVERIFY(text.contains("Erstellt am"));
        QVERIFY(text.contains("07.12.2026 18:05"));
        QVERIFY(text.contains("Seite 1 von 4"));
        QVERIFY(text.contains("Seite 4 von 4"));
        // Länge 1: 20,0 … 33,3; mean (sum 20…33 = 371, tenths 0…9 + 0…3 = 5,1) / 14.
        QVERIFY(text.contains(report::formatNumber(376.1 / 14.0, 2) + " mm"));
    }

    // A file that cannot be replaced is reported and stays as it was; the
    // other file is still written.
    void aTargetThatCannotBeReplacedStaysWhole() {
        Folder folder;
        folder.record(kOneRow);
        QDir().mkpath(folder.path() + "/Bericht_2026.12.05.pdf/inhalt");
        try {
            report::writeReport(folder.path(), {});
            QFAIL("no failure reported");
        } catch (const report::ReportError& e) {
            QVERIFY2(e.message().startsWith("Der Bericht „"), qPrintable(e.message()));
        }
        QVERIFY(QFileInfo(folder.path() + "/Bericht_2026.12.05.pdf/inhalt").isDir());
        QVERIFY(QFileInfo(folder.path() + "/Messwerte.xlsx").size() > 0);
        // Nothing half-written is left beside them.
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"Messwerte.csv", "Messwerte.xlsx"}));
    }

    // Cut and changed copies and a garbled record: the report is still
    // written, and every file is either shown or listed.
    void damagedFilesAreListedNeverDropped() {
        Folder folder;
        folder.image("1", "1.1", "0.2\\0.2");
        folder.copy("1", "1.1", "Messwerte ab Startlinie 10: 30 mm");
        const QByteArray whole = readFile(folder.path() + "/Gemessen/1.dcm");
        QVERIFY(!whole.isEmpty());
        for (qsizetype cut = 0; cut < whole.size(); cut += whole.size() / 23 + 1)
            writeFile(folder.path() + QStringLiteral("/Gemessen/cut%1.dcm").arg(cut),
                      whole.left(cut));
        for (qsizetype at = 128; at < whole.size(); at += whole.size() / 17 + 1) {
            QByteArray changed = whole;
            changed[at] = static_cast<char>(~changed[at]);
            writeFile(folder.path() + QStringLiteral("/Gemessen/flip%1.dcm").arg(at), changed);
        }
        writeFile(record::recordFile(folder.path()),
                  kHeader + "\"17;1.1;\xff\xfe;;;mm;30\r\n;;;\x00\x01;mm;\r\n\"");
        const report::Files files = report::writeReport(folder.path(), {});
        QVERIFY(QFileInfo(files.pdf).size() > 0);
        const report::Day day = report::readDay(folder.path());
        for (const QString& name : QDir(folder.path() + "/Gemessen").entryList(QDir::Files)) {
            const QString path = folder.path() + "/Gemessen/" + name;
            const bool shown =
                std::any_of(day.animals.begin(), day.animals.end(),
                            [&](const report::Animal& a) { return a.copyPath == path; });
            const bool listed = std::any_of(
                day.problems.begin(), day.problems.end(),
                [&](const report::Problem& p) { return p.place == "Gemessen/" + name; });
            QVERIFY2(shown != listed, qPrintable(name));
        }
    }

    // A cell edited by hand beyond what a spreadsheet cell or a page holds.
    void anOverlongCellIsCutNotFatal() {
        Folder folder;
        const QByteArray number(40000, '7');
        folder.record(number + ";1.1;05.12.2026;05.12.2026 09:00:00;10;mm;30;" + number + "\r\n");
        const report::Files files = report::writeReport(folder.path(), {});
        QVERIFY(QFileInfo(files.pdf).size() > 0);
        const QJsonObject book = readWorkbook(files.workbook);
        QCOMPARE(cell(book, "Messwerte", 1, 0)[2].toString().size(), 32767);
    }

#if defined(Q_OS_LINUX)
    // A write cut short, and a folder that cannot be written, keep the old report.
    void aFailedWriteKeepsTheOldReport() {
        Folder folder;
        folder.record(kOneRow);
        const QString pdf = folder.path() + "/Bericht_2026.12.05.pdf";
        const QString workbook = folder.path() + "/Messwerte.xlsx";
        writeFile(pdf, "the old report");
        {
            FileSizeLimit limit(1000);
            QVERIFY_THROWS_EXCEPTION(report::ReportError,
                                     report::writePdf(report::readDay(folder.path()), pdf,
                                                      QDateTime::currentDateTime(), {}));
        }
        QCOMPARE(readFile(pdf), QByteArray("the old report"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"Bericht_2026.12.05.pdf", "Messwerte.csv"}));

        writeFile(workbook, "the old workbook");
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QString message;
        {
            PermissionBitsEnforced enforced;
            try {
                report::writeReport(folder.path(), {});
            } catch (const report::ReportError& e) {
                message = e.message();
            }
        }
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        // Both failures named, in German.
        QVERIFY2(message.contains("Die Arbeitsmappe „"), qPrintable(message));
        QVERIFY2(message.contains("Der Bericht „"), qPrintable(message));
        QCOMPARE(readFile(pdf), QByteArray("the old report"));
        QCOMPARE(readFile(workbook), QByteArray("the old workbook"));
    }
#endif
};

QTEST_MAIN(tst_Report)
#include "tst_report.moc"
