// The operator's work in the real main window, offscreen, through its own
// controls: measuring and saving, and a whole day from import to archive.
#include "CsvReader.h"
#include "DicomFixtures.h"
#include "TestSupport.h"
#include "app/DemoWorkspace.h"
#include "app/frmMain.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"
#include "import/ImportDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDirIterator>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

namespace {

QStringList rowTexts(const imagelist::ListView* list, int column = 0) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

QTreeWidgetItem* rowFor(const imagelist::ListView* list, const QString& number) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == number)
            return list->topLevelItem(i);
    return nullptr;
}

// The row whose stored file is path: images of one number are told apart by it.
QTreeWidgetItem* rowOfFile(const imagelist::ListView* list, const QString& path) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (imagelist::ListView::tag(list->topLevelItem(i)) == path)
            return list->topLevelItem(i);
    return nullptr;
}

// Row of a record read by csvRows as column name -> field.
QMap<QString, QString> recordRow(const QList<QStringList>& rows, qsizetype row) {
    QMap<QString, QString> fields;
    for (qsizetype i = 0; !rows.isEmpty() && i < rows[0].size(); ++i)
        fields.insert(rows[0][i], rows.value(row).value(i));
    return fields;
}

// Image number, 400 x 400 pixels, as Original/<file> of the current measurement.
QString addImage(const TestWorkspace& ws, const QString& file, const QString& number,
                 const QString& uid = {}, const QString& spacing = QStringLiteral("0.2\\0.2"),
                 const QString& studyDate = QStringLiteral("20261205")) {
    ws.mkpath("/Messungen/Messung/Original");
    const QString path = ws.path("/Messungen/Messung/Original/" + file);
    fixtures::writeDicom(path, {number, uid, spacing, studyDate, 400, 400});
    return path;
}

// The values line written into a measured copy.
QString valuesLine(const QString& copy) {
    return imaging::readHeader(copy).attribute(0x0020, 0x4000).value();
}

// The commands for the shown image: saving, renumbering and deleting.
void checkCommands(const frmMain& w, bool enabled) {
    QCOMPARE(w.cmdSave->isEnabled(), enabled);
    QCOMPARE(w.chkEdit->isEnabled(), enabled);
    QCOMPARE(w.cmdDelete->isEnabled(), enabled);
}

// Every DICOM file below a folder, by name.
QStringList dicomFiles(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.dcm")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(folder.size());
    files.sort();
    return files;
}

} // namespace

class tst_workday : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void measureAndSave();
    void mixedUnitsAndStartLines();
    void savedMeasurementsAreNotReplacedUnasked();
    void refusedArchiveChangesNothing();
    void wholeDay();
    void keysShowAndSaveAndGoOn();
    void keyboardSelectionNeverSavesAnotherImage();
    void unsavedMeasurementsAskFirst_data();
    void unsavedMeasurementsAskFirst();
    void nothingUnsavedAsksNothing();
    void failedSaveStays();
    void progressFollowsTheFolder();
    void headerClickTurnsTheOrder();

private:
    // The window loaded, shown and active, the current measurement chosen.
    void openCurrent(frmMain& w);
    // openCurrent on images with these numbers (files "<number>.dcm").
    void openDay(frmMain& w, const TestWorkspace& ws, const QStringList& numbers);
    void choose(frmMain& w, const QString& entry);
    void clickRow(frmMain& w, const QString& number, Qt::MouseButton button = Qt::LeftButton);
    void clickFileRow(frmMain& w, const QString& path);
    void clickImage(frmMain& w, int x, int y, Qt::MouseButton button = Qt::LeftButton);
    void setStartLine(frmMain& w, int y);
};

void tst_workday::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void tst_workday::openCurrent(frmMain& w) {
    QVERIFY(w.Form_Load());
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    choose(w, "- Aktuelle Messung -");
}

void tst_workday::openDay(frmMain& w, const TestWorkspace& ws, const QStringList& numbers) {
    for (const QString& number : numbers)
        addImage(ws, number + ".dcm", number);
    openCurrent(w);
    QCOMPARE(w.lvwList->topLevelItemCount(), numbers.size());
}

void tst_workday::choose(frmMain& w, const QString& entry) {
    const int index = w.cboDone->findText(entry);
    QVERIFY2(index >= 0, qPrintable(entry));
    w.cboDone->setCurrentIndex(index);
    Q_EMIT w.cboDone->activated(index);
}

void tst_workday::clickRow(frmMain& w, const QString& number, Qt::MouseButton button) {
    QTreeWidgetItem* row = rowFor(w.lvwList, number);
    QVERIFY2(row, qPrintable(number));
    QTest::mouseClick(w.lvwList->viewport(), button, {}, w.lvwList->visualItemRect(row).center());
    QCOMPARE(w.lvwList->currentItem(), row);
}

void tst_workday::clickFileRow(frmMain& w, const QString& path) {
    QTreeWidgetItem* row = rowOfFile(w.lvwList, path);
    QVERIFY2(row, qPrintable(path));
    QTest::mouseClick(w.lvwList->viewport(), Qt::LeftButton, {},
                      w.lvwList->visualItemRect(row).center());
    QCOMPARE(w.dvIMG->tag(), QStringLiteral("ORIGINAL"));
}

void tst_workday::clickImage(frmMain& w, int x, int y, Qt::MouseButton button) {
    // A widget pixel that shows the image pixel, wherever the viewer puts it.
    QTest::mouseClick(w.dvIMG, button, {}, w.dvIMG->placement().surfacePixelOf(QPoint(x, y)));
}

void tst_workday::setStartLine(frmMain& w, int y) {
    QTest::mouseDClick(w.picStartLine, Qt::LeftButton);
    QCOMPARE(w.cursor().shape(), Qt::CrossCursor);
    clickImage(w, 5, y);
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
}

void tst_workday::measureAndSave() {
    TestWorkspace ws;
    MessageRecorder messages;
    addImage(ws, "a.dcm", "17");
    const QString b = addImage(ws, "b.dcm", "5", {}, {});
    { // the scanner's comment on cow 5 stays in its measured copy
        imaging::ImageCollection five;
        five.readFile(b);
        five.item(1).addAttribute(0x0020, 0x4000, QStringLiteral("Kuh lahmt"));
        five.item(1).write(b, true);
    }
    frmMain w;
    openCurrent(w);
    QCOMPARE(rowTexts(w.lvwList), (QStringList{"5", "17"}));
    QVERIFY(w.cmdCloseStudy->isEnabled());

    clickRow(w, "17");
    QCOMPARE(w.windowTitle(), QStringLiteral("Kalvara | 17  (0.2)"));
    QCOMPARE(w.dvIMG->tag(), QStringLiteral("ORIGINAL"));
    checkCommands(w, true);
    QCOMPARE(w.cmdCloseStudy->property("Tag").toString(), QStringLiteral("20261205"));

    setStartLine(w, 100);
    QVERIFY(readFile(ws.path("/Settings.ini")).contains("StartLine=100"));
    // The start line shows dashed in yellow on its image row across the
    // image, and nowhere else in the viewer (wider than the image here).
    QCOMPARE(w.dvIMG->startLine(), std::optional<int>(100));
    w.resize(1200, 600);
    QTRY_VERIFY(w.dvIMG->width() > w.dvIMG->height() + 200);
    const QImage shown = w.dvIMG->grab().toImage();
    const imaging::ImagePlacement placement = w.dvIMG->placement();
    const int row = placement.surfacePixelOf(QPoint(0, 100)).y();
    const QRect across = placement.surfaceRect();
    int onLine = 0;
    int elsewhere = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QColor c = shown.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 180 && c.blue() < 80)
                ++(y == row && x >= across.left() && x <= across.right() ? onLine : elsewhere);
        }
    QVERIFY2(onLine > across.width() / 3, qPrintable(QString::number(onLine)));
    QCOMPARE(elsewhere, 0);

    imaging::Image& image = w.dvIMG->images().item(1);
    clickImage(w, 40, 250);
    QCOMPARE(image.labels().count(), 2);
    const imaging::Label& line = image.labels().item(1);
    const imaging::Label& text = image.labels().item(2);
    QCOMPARE(line.kind, imaging::Label::Line);
    QCOMPARE(line.colour, 255u);
    QCOMPARE(QRect(line.left, line.top, 1, line.height), QRect(40, 100, 1, 150));
    QCOMPARE(text.kind, imaging::Label::Text);
    QCOMPARE(text.text, QStringLiteral("30 mm"));
    QCOMPARE(QPoint(text.left, text.top), QPoint(40, 250));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("30"));

    clickImage(w, 40, 160);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12"));
    QCOMPARE(w.lblValues->text(), QStringLiteral("Messwerte:\n1. 30 mm\n2. 12 mm"));
    clickImage(w, 40, 160, Qt::RightButton);
    QCOMPARE(image.labels().count(), 2);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString());
    QCOMPARE(w.lblValues->text(), QStringLiteral("Messwerte:\n1. 30 mm"));

    // Enter in the window saves: the default button.
    QTest::keyClick(&w, Qt::Key_Return);
    QVERIFY(QFileInfo::exists(ws.path("/Messungen/Messung/Gemessen/17.dcm")));
    QCOMPARE(rowFor(w.lvwList, "17")->text(1), QStringLiteral("X"));
    QCOMPARE(messages.count(), 0);
    const QString recordFile = ws.path("/Messungen/Messung/Messwerte.csv");
    const QString uid = image.imageUid();
    const QList<QStringList> rows = csvRows(recordFile);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].mid(0, 3), (QStringList{"17", uid, "05.12.2026"}));
    QVERIFY(QDateTime::fromString(rows[1][3], "dd.MM.yyyy HH:mm:ss")
                .secsTo(QDateTime::currentDateTime()) < 60);
    QCOMPARE(rows[1].mid(4), (QStringList{"100", "mm", "30"}));

    clickRow(w, "17", Qt::RightButton);
    QCOMPARE(w.dvIMG->tag(), QString());
    checkCommands(w, false);
    const QImage copy = w.dvIMG->images().item(1).displayImage();
    int red = 0;
    for (int y = 105; y < 245; ++y) {
        const QColor c = copy.pixelColor(40, y);
        red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
    }
    QVERIFY2(red > 130, qPrintable(QString::number(red)));
    QCOMPARE(w.lblValues->text(), QString());
    for (int x = 0; x < copy.width(); ++x) { // the start line is not burned in
        const QColor c = copy.pixelColor(x, 100);
        QVERIFY(!(c.red() > 200 && c.green() > 180 && c.blue() < 80));
    }
    // A click on the copy measures nothing.
    clickImage(w, 60, 200);
    QCOMPARE(w.dvIMG->images().item(1).labels().count(), 0);

#if !defined(Q_OS_UNIX)
    QSKIP("Needs POSIX file size limits.");
#else
    // The record's write fails (a file-size limit below the record's new size
    // but above the copy's, which fails writes even for root): the copy is
    // saved all the same, the operator is warned and the record stays.
    clickRow(w, "5");
    clickImage(w, 40, 201);
    const QByteArray before = "Bild-UID;Notiz\r\n;" + QByteArray(600000, 'a') + "\r\n";
    writeFile(recordFile, before);
    {
        const FileSizeLimit limit(before.size() + 16);
        QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    }
    imaging::ImageCollection written;
    written.readFile(ws.path("/Messungen/Messung/Gemessen/5.dcm")); // whole and readable
    QCOMPARE(written.item(1).attribute(0x0020, 0x4000).value(),
             QStringLiteral("Kuh lahmt\r\nMesswerte ab Startlinie 100: 101 px"));
    QCOMPARE(rowFor(w.lvwList, "5")->text(1), QStringLiteral("X"));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last().icon, modGlobal::Icon::Warning);
    QVERIFY(messages.last().text.startsWith("Die gemessene Kopie ist gespeichert"));
    QVERIFY(messages.last().text.contains("konnte nicht geschrieben werden"));
    QCOMPARE(readFile(recordFile), before);

    // A lost record is rebuilt from Kalvara's own copies, not from a file
    // someone else put into Gemessen.
    QVERIFY(QFile::remove(recordFile));
    fixtures::writeDicom(ws.path("/Messungen/Messung/Gemessen/99.dcm"), fixtures::DicomSpec{"99"});
    clickRow(w, "17");
    clickImage(w, 40, 160);
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QList<QStringList> rebuilt = csvRows(recordFile);
    QCOMPARE(rebuilt.size(), 3);
    for (QStringList& row : rebuilt)
        row.removeAt(3); // the time of saving
    QCOMPARE(rebuilt[1], (QStringList{"17", uid, "05.12.2026", "100", "mm", "12"}));
    QCOMPARE(rebuilt[2].mid(2), (QStringList{"05.12.2026", "100", "px", "101"}));
    QCOMPARE(rebuilt[2][0], QStringLiteral("5"));
    QCOMPARE(messages.count(), 1);
    clickRow(w, "5");

    // Choosing a folder again leaves the commands off for the image still shown.
    QVERIFY(w.cmdSave->isEnabled());
    choose(w, "- Aktuelle Messung -");
    checkCommands(w, false);
    QCOMPARE(w.dvIMG->tag(), QString());
#endif
}

void tst_workday::mixedUnitsAndStartLines() {
    TestWorkspace ws;
    MessageRecorder messages;
    addImage(ws, "b.dcm", "22", "1.2.22", {});
    // No Pixel Spacing; the left half is an ultrasound region of 0,01 cm per row.
    fixtures::writeVariant(ws.path("/Messungen/Messung/Original/a.dcm"),
                           {.base = {"21", "1.2.21", {}, "20261205", 400, 400},
                            .regions = {{0, 0, 199, 399, 3, 0.01}}});
    frmMain w;
    openCurrent(w);

    // 200 rows inside the region, 200 outside, then 200 from a new start line.
    clickRow(w, "21");
    setStartLine(w, 100);
    clickImage(w, 100, 300);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("20"));
    clickImage(w, 300, 300);
    setStartLine(w, 50);
    clickImage(w, 300, 250);
    QTest::keyClick(&w, Qt::Key_Return);

    const QString recordFile = ws.path("/Messungen/Messung/Messwerte.csv");
    const QMap<QString, QString> expected = {
        {"Startlinie", ""},  {"Einheit", ""},         {"Länge 1", "20"},
        {"Einheit 1", "mm"}, {"Startlinie 1", "100"}, {"Länge 2", "200"},
        {"Einheit 2", "px"}, {"Startlinie 2", "100"}, {"Länge 3", "200"},
        {"Einheit 3", "px"}, {"Startlinie 3", "50"}};
    const auto compareFirstRow = [&](const QList<QStringList>& rows) {
        const QMap<QString, QString> saved = recordRow(rows, 1);
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(saved.value(it.key()), it.value());
    };
    compareFirstRow(csvRows(recordFile));
    QCOMPARE(valuesLine(ws.path("/Messungen/Messung/Gemessen/21.dcm")),
             QStringLiteral("Messwerte: 20 mm ab Startlinie 100; 200 px ab Startlinie 100; "
                            "200 px ab Startlinie 50"));

    // A lost record is rebuilt from the copy with the same values.
    QVERIFY(QFile::remove(recordFile));
    clickRow(w, "22");
    clickImage(w, 40, 160);
    QTest::keyClick(&w, Qt::Key_Return);
    const QList<QStringList> rebuilt = csvRows(recordFile);
    QCOMPARE(rebuilt.size(), 3);
    compareFirstRow(rebuilt);
    QCOMPARE(messages.count(), 0);
}

void tst_workday::savedMeasurementsAreNotReplacedUnasked() {
    TestWorkspace ws;
    MessageRecorder messages(modGlobal::Answer::No);
    // Two images that share the number 31, so one measured copy's name.
    const QString a = addImage(ws, "a.dcm", "31", "1.2.31");
    const QString b = addImage(ws, "b.dcm", "31", "1.2.32");
    frmMain w;
    openCurrent(w);
    clickFileRow(w, a);
    setStartLine(w, 100);
    clickImage(w, 40, 250);
    QTest::keyClick(&w, Qt::Key_Return);
    const QString copy = ws.path("/Messungen/Messung/Gemessen/31.dcm");
    const QString recordFile = ws.path("/Messungen/Messung/Messwerte.csv");
    const QByteArray savedCopy = readFile(copy);
    const QByteArray savedRecord = readFile(recordFile);
    QCOMPARE(messages.count(), 0);

    // One Enter on an image without lines, its own or the other one of the
    // number: a question, default No; No changes nothing.
    for (const QString& image : {a, b}) {
        clickFileRow(w, image);
        const int before = messages.count();
        QTest::keyClick(&w, Qt::Key_Return);
        QCOMPARE(messages.count(), before + 1);
        QCOMPARE(messages.last().icon, modGlobal::Icon::Question);
        QCOMPARE(messages.last().buttons, modGlobal::Buttons::YesNo);
        QCOMPARE(messages.last().defaultButton, modGlobal::Answer::No);
        QCOMPARE(readFile(copy), savedCopy);
        QCOMPARE(readFile(recordFile), savedRecord);
    }
    QCOMPARE(rowOfFile(w.lvwList, a)->text(1), QStringLiteral("X"));
    QCOMPARE(rowOfFile(w.lvwList, b)->text(1), QStringLiteral("-"));

    // Deleting b keeps a's copy, its "X" and its record row.
    messages.setAnswer(modGlobal::Answer::Yes);
    QTest::mouseClick(w.cmdDelete, Qt::LeftButton);
    QCOMPARE(readFile(copy), savedCopy);
    QCOMPARE(rowOfFile(w.lvwList, a)->text(1), QStringLiteral("X"));
    QCOMPARE(csvRows(recordFile).size(), 2);

    // Yes replaces the copy; a copy without values is then replaced unasked.
    clickFileRow(w, a);
    QTest::keyClick(&w, Qt::Key_Return);
    QCOMPARE(messages.count(), 4);
    QCOMPARE(valuesLine(copy), QStringLiteral("Messwerte: keine"));
    QTest::keyClick(&w, Qt::Key_Return);
    QCOMPARE(messages.count(), 4);

    // Deleting a, whose copy it is, erases the copy.
    QTest::mouseClick(w.cmdDelete, Qt::LeftButton);
    QVERIFY(!QFileInfo::exists(copy));
    QCOMPARE(csvRows(recordFile).size(), 1);
}

// The archive refuses a study date that is no date (the refusals themselves
// are tested with the folder commands): the window keeps the image.
void tst_workday::refusedArchiveChangesNothing() {
    TestWorkspace ws;
    MessageRecorder messages;
    addImage(ws, "a.dcm", "41", "1.2.41", "0.2\\0.2", "2026");
    frmMain w;
    openCurrent(w);
    clickRow(w, "41");
    setStartLine(w, 100);
    clickImage(w, 40, 250);

    // Past the question on the unsaved measurement, the archive refuses.
    messages.setAnswerFor(modGlobal::Buttons::SaveDiscardCancel, modGlobal::Answer::Discard);
    QTest::mouseClick(w.cmdCloseStudy, Qt::LeftButton);
    QCOMPARE(messages.count(), 2);
    QCOMPARE(messages.last().buttons, modGlobal::Buttons::Ok); // the refusal
    QCOMPARE(w.dvIMG->tag(), QStringLiteral("ORIGINAL"));
    checkCommands(w, true);
    QCOMPARE(w.lvwList->topLevelItemCount(), 1);

    // The measurement on the shown image can still be saved.
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QCOMPARE(recordRow(csvRows(ws.path("/Messungen/Messung/Messwerte.csv")), 1).value("Länge 1"),
             QStringLiteral("30"));
}

void tst_workday::wholeDay() {
    TestWorkspace ws;
    MessageRecorder messages(modGlobal::Answer::Yes);
    // The scanner's day: five images of 4 December 2026; two bitmaps to import.
    QVERIFY(demo::fillWorkspace(ws.root(), QDate(2026, 12, 4)));
    const int imagesAtStart = dicomFiles(ws.root()).size() + ws.fileNames("/NoDCM").size();
    QCOMPARE(imagesAtStart, 7);

    frmMain w;
    openCurrent(w);

    // Import both bitmaps for 5 December, from inside the modal dialog. Its
    // preview in the viewer switches off the commands of the image shown before.
    clickRow(w, "17");
    bool imported = false;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<importer::frmNoDCM*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        // A failed check closes the dialog, so the test fails instead of hanging.
        const auto closeOnFailure = qScopeGuard([&] {
            if (!imported)
                dialog->close();
        });
        QTRY_COMPARE(dialog->lblInfo->text(), QStringLiteral("Bild 1 von 2"));
        checkCommands(w, false);
        QVERIFY(w.dvIMG->tag().isEmpty());
        dialog->dtpStudyDate->setDate(QDate(2026, 12, 5));
        dialog->txtPixelSpacing->setText(QStringLiteral("0.2\\0.2"));
        dialog->txtNumber->setText(QStringLiteral("301"));
        QTest::mouseClick(dialog->cmdImport, Qt::LeftButton);
        QTRY_COMPARE(dialog->lblInfo->text(), QStringLiteral("Bild 2 von 2"));
        dialog->txtNumber->setText(QStringLiteral("302"));
        QTest::keyClick(dialog->txtNumber, Qt::Key_Return);
        imported = true;
    });
    choose(w, "- Externe Bilder -");
    QVERIFY(imported);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(ws.fileNames("/NoDCM"), QStringList());
    QCOMPARE(ws.fileNames("/Messungen/Messung_2026.12.05/Original").size(), 2);
    QVERIFY(w.cboDone->findText("2026.12.05") >= 2);

    // Measure three cows and save them; the import wrote no record.
    QVERIFY(!QFileInfo::exists(ws.path("/Messungen/Messung_2026.12.05/Messwerte.csv")));
    choose(w, "- Aktuelle Messung -");
    QCOMPARE(rowTexts(w.lvwList), (QStringList{"5", "17", "42", "118", "230"}));
    setStartLine(w, 80);
    for (const auto& [number, y, length] :
         {std::tuple{"17", 180, "20"}, {"42", 180, "20"}, {"118", 181, "20,2"}}) {
        clickRow(w, number);
        clickImage(w, 300, y);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8(length));
        QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    }
    QCOMPARE(rowTexts(w.lvwList, 1), (QStringList{"-", "X", "X", "X", "-"}));

    // Renumber 118 to 119.
    clickRow(w, "118");
    QTest::mouseClick(w.chkEdit, Qt::LeftButton);
    QVERIFY(w.txtEdit->isEnabled());
    QVERIFY(w.cmdEdit->isEnabled());
    w.txtEdit->setText(QStringLiteral("119"));
    QTest::mouseClick(w.cmdEdit, Qt::LeftButton);
    QVERIFY(rowFor(w.lvwList, "119"));
    QVERIFY(!w.chkEdit->isChecked());

    // Delete 42 after the confirmation.
    clickRow(w, "42");
    QTest::mouseClick(w.cmdDelete, Qt::LeftButton);
    QCOMPARE(messages.last().text, QStringLiteral("Wollen Sie das Bild mit der Nummer \r\n\r\n42"
                                                  "\r\n\r\nwirklich löschen?"));
    QCOMPARE(rowTexts(w.lvwList), (QStringList{"5", "17", "119", "230"}));
    QCOMPARE(w.windowTitle(), QStringLiteral("Kalvara"));

    // Archive the day under the study date of the image shown last.
    clickRow(w, "5");
    QTest::mouseClick(w.cmdCloseStudy, Qt::LeftButton);
    QCOMPARE(w.lvwList->topLevelItemCount(), 0);
    QCOMPARE(w.dvIMG->images().count(), 0);
    QVERIFY(!QFileInfo::exists(ws.path("/Messungen/Messung")));

    choose(w, "2026.12.04");
    QVERIFY(!w.cmdCloseStudy->isEnabled());
    QCOMPARE(rowTexts(w.lvwList), (QStringList{"5", "17", "119", "230"}));
    QCOMPARE(rowTexts(w.lvwList, 1), (QStringList{"-", "X", "-", "-"}));
    choose(w, "2026.12.05");
    QCOMPARE(rowTexts(w.lvwList), (QStringList{"301", "302"}));

    // Every file is where it belongs, and no image was lost.
    const QString day = ws.path("/Messungen/Messung_2026.12.04");
    QCOMPARE(ws.fileNames("/Messungen/Messung_2026.12.04/Original").size(), 4);
    QCOMPARE(ws.fileNames("/Messungen/Messung_2026.12.04/Papierkorb").size(), 1);
    QCOMPARE(ws.fileNames("/Messungen/Messung_2026.12.04/Gemessen"),
             (QStringList{"118.dcm", "17.dcm"}));
    // The record went with the folder: the two cows left, 118 under its new number.
    QList<QStringList> rows = csvRows(day + "/Messwerte.csv");
    QCOMPARE(rows.size(), 3);
    QVERIFY(QFileInfo::exists(day + "/Original/" + rows[2][1] + ".dcm")); // the new UID
    for (QStringList& row : rows)
        row = QStringList{row[0], row[2], row[4], row[5], row[6]};
    QCOMPARE(rows,
             (QList<QStringList>{{"Kuhnummer", "Studiendatum", "Startlinie", "Einheit", "Länge 1"},
                                 {"17", "04.12.2026", "80", "mm", "20"},
                                 {"119", "04.12.2026", "80", "mm", "20,2"}}));
    QVERIFY(!QFileInfo::exists(ws.path("/Messungen/Messung_2026.12.05/Messwerte.csv")));
    const QStringList unmeasured =
        dicomFiles(ws.root()).filter(QRegularExpression("/(Original|Papierkorb)/"));
    QCOMPARE(unmeasured.size(), imagesAtStart);
    // Only the confirmation was asked; nothing failed.
    QCOMPARE(messages.count(), 1);
}

// F8 / F7 show the next / previous row's image as a left click would, F9
// saves and goes on to the next row without a measured copy; at either end
// the keys stay and say so.
void tst_workday::keysShowAndSaveAndGoOn() {
    TestWorkspace ws;
    MessageRecorder messages;
    frmMain w;
    QStringList numbers;
    for (int i = 1; i <= 12; ++i)
        numbers << QString::number(i);
    ws.mkpath("/Messungen/Messung/Gemessen");
    fixtures::writeDicom(ws.path("/Messungen/Messung/Gemessen/3.dcm"), fixtures::DicomSpec{"3"});
    openDay(w, ws, numbers);
    QCOMPARE(rowFor(w.lvwList, "3")->text(1), QStringLiteral("X"));
    QTest::keyClick(&w, Qt::Key_F8); // no row chosen yet: the first
    QCOMPARE(w.lvwList->currentItem(), rowFor(w.lvwList, "1"));
    QCOMPARE(w.session.shownFile, ws.path("/Messungen/Messung/Original/1.dcm"));
    QCOMPARE(w.dvIMG->tag(), QStringLiteral("ORIGINAL"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Kalvara | 1  (0.2)"));
    QVERIFY(w.cmdSave->isEnabled());
    QTest::keyClick(&w, Qt::Key_F8);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("2"));
    QTest::keyClick(&w, Qt::Key_F7);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("1"));
    // Shift, held for the loupe, does not stop the keys.
    QTest::keyClick(&w, Qt::Key_F8, Qt::ShiftModifier);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("2"));
    QTest::keyClick(&w, Qt::Key_F7, Qt::ShiftModifier);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("1"));
    QTest::keyClick(&w, Qt::Key_F7);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("1"));
    QCOMPARE(w.lblKeys->text(), QStringLiteral("Das erste Bild der Liste."));

    // Whatever has the focus: the number box while renumbering is on.
    QTest::mouseClick(w.chkEdit, Qt::LeftButton);
    w.txtEdit->setFocus();
    QTest::keyClick(w.txtEdit, Qt::Key_F8);
    QCOMPARE(w.session.shownFile, ws.path("/Messungen/Messung/Original/2.dcm"));
    QTest::keyClick(w.txtEdit, Qt::Key_F7);
    QCOMPARE(w.session.shownFile, ws.path("/Messungen/Messung/Original/1.dcm"));

    // F9: 1 saved with its length, on to 2; 2 saved, on past the measured 3 to 4.
    setStartLine(w, 100);
    clickImage(w, 40, 250);
    QTest::keyClick(&w, Qt::Key_F9);
    QCOMPARE(valuesLine(ws.path("/Messungen/Messung/Gemessen/1.dcm")),
             QStringLiteral("Messwerte ab Startlinie 100: 30 mm"));
    QCOMPARE(rowFor(w.lvwList, "1")->text(1), QStringLiteral("X"));
    QCOMPARE(w.txtEdit->text(), QStringLiteral("2"));
    QTest::keyClick(&w, Qt::Key_F9);
    QVERIFY(QFileInfo::exists(ws.path("/Messungen/Messung/Gemessen/2.dcm")));
    QCOMPARE(w.txtEdit->text(), QStringLiteral("4"));
    QCOMPARE(w.lvwList->currentItem(), rowFor(w.lvwList, "4"));
    QVERIFY(w.cmdSave->isEnabled());

    // On to the last row, which the list scrolls into view.
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(&w, Qt::Key_F8);
    QTreeWidgetItem* last = rowFor(w.lvwList, "12");
    QCOMPARE(w.lvwList->currentItem(), last);
    QVERIFY(w.lvwList->viewport()->rect().contains(w.lvwList->visualItemRect(last)));
    QTest::keyClick(&w, Qt::Key_F8);
    QCOMPARE(w.lblKeys->text(), QStringLiteral("Das letzte Bild der Liste."));
    QTest::keyClick(&w, Qt::Key_F9); // saves 12; none unmeasured after it: stays
    QVERIFY(QFileInfo::exists(ws.path("/Messungen/Messung/Gemessen/12.dcm")));
    QCOMPARE(w.session.shownFile, ws.path("/Messungen/Messung/Original/12.dcm"));
    QCOMPARE(w.lblKeys->text(), QStringLiteral("Nach Nr. 12 kein ungemessenes Bild mehr."));
    QCOMPARE(messages.count(), 0);
}

// The selection moved by keyboard away from the shown image switches its
// commands off, so Enter saves nothing; back on its row, Enter saves it.
void tst_workday::keyboardSelectionNeverSavesAnotherImage() {
    TestWorkspace ws;
    MessageRecorder messages;
    frmMain w;
    openDay(w, ws, {"1", "2"});
    clickRow(w, "1");
    setStartLine(w, 100);
    clickImage(w, 40, 250);
    w.lvwList->setFocus();
    QTest::keyClick(w.lvwList, Qt::Key_Down);
    QCOMPARE(w.lvwList->currentItem(), rowFor(w.lvwList, "2"));
    checkCommands(w, false);
    QTest::keyClick(w.lvwList, Qt::Key_Return);
    QCOMPARE(ws.fileNames("/Messungen/Messung/Gemessen"), QStringList());
    QTest::keyClick(w.lvwList, Qt::Key_Up);
    QVERIFY(w.cmdSave->isEnabled());
    QTest::keyClick(w.lvwList, Qt::Key_Return);
    QCOMPARE(ws.fileNames("/Messungen/Messung/Gemessen"), QStringList{"1.dcm"});
    QCOMPARE(rowFor(w.lvwList, "2")->text(1), QStringLiteral("-"));
    QCOMPARE(messages.count(), 0);
}

void tst_workday::unsavedMeasurementsAskFirst_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("answer");
    const QList<std::pair<const char*, modGlobal::Answer>> answers = {
        {"Abbrechen", modGlobal::Answer::Cancel},
        {"Verwerfen", modGlobal::Answer::Discard},
        {"Speichern", modGlobal::Answer::Save}};
    for (const char* path : {"left click", "right click", "F8", "folder", "Externe Bilder",
                             "archive", "renumber", "close"})
        for (const auto& [name, answer] : answers)
            QTest::addRow("%s, %s", path, name) << QString::fromLatin1(path) << int(answer);
}

// Every way of leaving an image with unsaved measurements asks first; each
// answer does what it says.
void tst_workday::unsavedMeasurementsAskFirst() {
    QFETCH(QString, path);
    QFETCH(int, answer);
    TestWorkspace ws;
    MessageRecorder messages;
    messages.setAnswerFor(modGlobal::Buttons::SaveDiscardCancel, modGlobal::Answer(answer));
    frmMain w;
    ws.mkpath("/Messungen/Messung_2026.12.01/Original");
    openDay(w, ws, {"1", "2"});
    const QString first = ws.path("/Messungen/Messung/Original/1.dcm");
    clickRow(w, "1");
    setStartLine(w, 100);
    clickImage(w, 40, 250);
    clickImage(w, 40, 300);
    const QString chosenBefore = w.cboDone->currentText();

    // What leaving means on each path.
    std::function<bool()> left = [&] { return w.session.shownFile != first; };
    if (path == "left click" || path == "right click") {
        QTreeWidgetItem* row = rowFor(w.lvwList, "2");
        QTest::mouseClick(w.lvwList->viewport(),
                          path == "left click" ? Qt::LeftButton : Qt::RightButton, {},
                          w.lvwList->visualItemRect(row).center());
    } else if (path == "F8") {
        QTest::keyClick(&w, Qt::Key_F8);
    } else if (path == "folder") {
        choose(w, "2026.12.01");
    } else if (path == "Externe Bilder") { // NoDCM is empty: the import says so
        choose(w, "- Externe Bilder -");
        left = [&] {
            return messages.last().text ==
                   QStringLiteral("Es befinden sich keine externen Bilder im Verzeichnis.");
        };
    } else if (path == "archive") {
        QTest::mouseClick(w.cmdCloseStudy, Qt::LeftButton);
        left = [&] { return !QFileInfo::exists(ws.path("/Messungen/Messung")); };
    } else if (path == "renumber") { // shows the image anew, as number 7
        QTest::mouseClick(w.chkEdit, Qt::LeftButton);
        w.txtEdit->setText(QStringLiteral("7"));
        QTest::mouseClick(w.cmdEdit, Qt::LeftButton);
        left = [&] { return !QFileInfo::exists(first); };
    } else {
        w.close();
        left = [&] { return !w.isVisible(); };
    }

    QVERIFY(messages.count() > 0);
    const modGlobal::Message& question = messages.messages().first();
    QCOMPARE(question.text, QStringLiteral("Die Messwerte von Nummer 1 sind nicht gespeichert."
                                           "\r\n\r\nSollen sie gespeichert werden?"));
    QCOMPARE(question.buttons, modGlobal::Buttons::SaveDiscardCancel);
    QCOMPARE(question.defaultButton, modGlobal::Answer::Cancel);
    QCOMPARE(question.icon, modGlobal::Icon::Question);
    const QString copy = QStringLiteral("/Gemessen/1.dcm");
    const bool saved = QFileInfo::exists(ws.path("/Messungen/Messung") + copy) ||
                       QFileInfo::exists(ws.path("/Messungen/Messung_2026.12.05") + copy) ||
                       QFileInfo::exists(ws.path("/Messungen/Messung/Gemessen/7.dcm"));
    QCOMPARE(saved, answer == int(modGlobal::Answer::Save));
    QCOMPARE(left(), answer != int(modGlobal::Answer::Cancel));
    if (answer == int(modGlobal::Answer::Cancel)) {
        QCOMPARE(messages.count(), 1);
        QCOMPARE(w.dvIMG->images().item(1).labels().count(), 4);
        QCOMPARE(w.lvwList->currentItem(), rowFor(w.lvwList, "1"));
        QVERIFY(w.cmdSave->isEnabled());
        QCOMPARE(w.cboDone->currentText(), chosenBefore);
        QVERIFY(w.isVisible());
    }
}

// Nothing is asked for an image shown and left alone, after a save, or after
// a measurement taken away and drawn again as it was saved.
void tst_workday::nothingUnsavedAsksNothing() {
    TestWorkspace ws;
    MessageRecorder messages;
    frmMain w;
    openDay(w, ws, {"1", "2"});
    clickRow(w, "1");
    clickRow(w, "2");
    setStartLine(w, 100);
    clickImage(w, 40, 250);
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    clickRow(w, "1");
    clickRow(w, "2");
    clickImage(w, 40, 250);
    QTest::keyClick(&w, Qt::Key_Return);
    clickImage(w, 40, 250, Qt::RightButton);
    clickImage(w, 40, 250);
    QTest::keyClick(&w, Qt::Key_F7);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("1"));
    QCOMPARE(messages.count(), 0);
    // Taken away without drawing again: the saved state differs.
    QTest::keyClick(&w, Qt::Key_F8);
    clickImage(w, 40, 250);
    QTest::keyClick(&w, Qt::Key_Return);
    clickImage(w, 40, 250, Qt::RightButton);
    QTest::keyClick(&w, Qt::Key_F7);
    QCOMPARE(messages.count(), 1);
}

// "Speichern" goes on only when the save succeeded: with Gemessen blocked by
// a file the failure is reported and the image stays with its measurements.
void tst_workday::failedSaveStays() {
    TestWorkspace ws;
    MessageRecorder messages;
    messages.setAnswerFor(modGlobal::Buttons::SaveDiscardCancel, modGlobal::Answer::Save);
    frmMain w;
    openDay(w, ws, {"1", "2"});
    writeFile(ws.path("/Messungen/Messung/Gemessen"));
    clickRow(w, "1");
    setStartLine(w, 100);
    clickImage(w, 40, 250);
    QTest::keyClick(&w, Qt::Key_F8);
    QCOMPARE(messages.count(), 2);
    QCOMPARE(messages.last().icon, modGlobal::Icon::Critical);
    QCOMPARE(w.session.shownFile, ws.path("/Messungen/Messung/Original/1.dcm"));
    QCOMPARE(w.dvIMG->images().item(1).labels().count(), 2);
    QCOMPARE(w.lvwList->currentItem(), rowFor(w.lvwList, "1"));
}

// "x von y gemessen" follows loading, saving, renumbering and deleting;
// measured rows are tinted.
void tst_workday::progressFollowsTheFolder() {
    TestWorkspace ws;
    MessageRecorder messages(modGlobal::Answer::Yes);
    frmMain w;
    ws.mkpath("/Messungen/Messung/Gemessen");
    fixtures::writeDicom(ws.path("/Messungen/Messung/Gemessen/2.dcm"), fixtures::DicomSpec{"2"});
    openDay(w, ws, {"1", "2", "3"});
    QTRY_COMPARE(w.lblProgress->text(), QStringLiteral("1 von 3 gemessen"));
    // The measured row's cell beside its number shows the tint, another not.
    const QImage list = w.lvwList->viewport()->grab().toImage();
    const auto besideNumber = [&](const QString& number) {
        const QRect cell = w.lvwList->visualItemRect(rowFor(w.lvwList, number));
        return list.pixelColor(w.lvwList->columnWidth(0) - 3, cell.center().y());
    };
    QCOMPARE(besideNumber("2"), QColor(208, 240, 208));
    QCOMPARE(besideNumber("3"), QColor(Qt::white));
    clickRow(w, "1");
    QTest::mouseClick(w.cmdSave, Qt::LeftButton);
    QTRY_COMPARE(w.lblProgress->text(), QStringLiteral("2 von 3 gemessen"));
    // The copy keeps the old number: the renumbered row has none.
    QTest::mouseClick(w.chkEdit, Qt::LeftButton);
    w.txtEdit->setText(QStringLiteral("7"));
    QTest::mouseClick(w.cmdEdit, Qt::LeftButton);
    QTRY_COMPARE(w.lblProgress->text(), QStringLiteral("1 von 3 gemessen"));
    clickRow(w, "2");
    QTest::mouseClick(w.cmdDelete, Qt::LeftButton);
    QTRY_COMPARE(w.lblProgress->text(), QStringLiteral("0 von 2 gemessen"));
}

// A click on "Nr." sorts by value the other way round; the next load keeps
// that direction, the shown row stays selected.
void tst_workday::headerClickTurnsTheOrder() {
    TestWorkspace ws;
    MessageRecorder messages;
    frmMain w;
    openDay(w, ws, {"2", "10", "1"});
    QCOMPARE(rowTexts(w.lvwList), QStringList({"1", "2", "10"}));
    clickRow(w, "2");
    QHeaderView* header = w.lvwList->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
    QCOMPARE(rowTexts(w.lvwList), QStringList({"10", "2", "1"}));
    QCOMPARE(w.lvwList->currentItem(), rowFor(w.lvwList, "2"));
    QVERIFY(w.cmdSave->isEnabled());
    choose(w, "- Aktuelle Messung -");
    QCOMPARE(rowTexts(w.lvwList), QStringList({"10", "2", "1"}));
    QCOMPARE(messages.count(), 0);
}

QTEST_MAIN(tst_workday)
#include "tst_workday.moc"
