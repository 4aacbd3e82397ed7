#include "Conversion.h"
#include "DicomViewer.h"
#include "ImportDialog.h"
#include "TestSupport.h"
#include "modINI.h"

#include <dcmtk/config/osconfig.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <QDataStream>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

enum class Bmp { Grey, Colour, TopDown };

// Odd widths give padded rows. Qt writes bottom-up bitmaps only, so the
// top-down one (negative height, 24-bit) is written here byte by byte.
QImage writeBmp(const QString& path, Bmp kind, int w = 13, int h = 7) {
    QImage image(w, h, kind == Bmp::Grey ? QImage::Format_Indexed8 : QImage::Format_RGB888);
    if (kind == Bmp::Grey)
        for (int v = 0; v < 256; ++v)
            image.setColor(v, qRgb(v, v, v));
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 stride = quint32(w * 3 + 3) & ~3u;
    out.writeRawData("BM", 2);
    out << quint32(54 + stride * h) << quint32(0) << quint32(54) << quint32(40) << qint32(w)
        << qint32(-h) << quint16(1) << quint16(24) << quint32(0) << quint32(stride * h)
        << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb c =
                qRgb((x * 37 + y * 11) % 256, (x * 5 + y * 71) % 256, (x + y * 29) % 256);
            image.setPixel(x, y, kind == Bmp::Grey ? uint((x * 23 + y * 41) % 256) : c);
            out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c));
        }
        out.writeRawData("\0\0\0", int(stride - quint32(w) * 3));
    }
    QFile file(path);
    if (kind != Bmp::TopDown)
        image.save(path, "BMP");
    else if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return image.convertToFormat(QImage::Format_RGB32);
}

void writeText(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QString setting(const char* key) {
    return modINI::ReadIniValue("GENERAL", key, "<absent>", modINI::settingsFile(), 256);
}

// The stored pixel data byte for byte (the display would apply the window).
QImage storedPixels(const QString& path) {
    DcmFileFormat file;
    DcmDataset& data = *file.getDataset();
    Uint16 rows = 0, columns = 0, samples = 0;
    const Uint8* p = nullptr;
    unsigned long length = 0;
    if (file.loadFile(path.toLocal8Bit().constData()).bad() ||
        data.findAndGetUint16(DCM_Rows, rows).bad() ||
        data.findAndGetUint16(DCM_Columns, columns).bad() ||
        data.findAndGetUint16(DCM_SamplesPerPixel, samples).bad() ||
        data.findAndGetUint8Array(DCM_PixelData, p, &length).bad() ||
        length < std::size_t(rows) * columns * samples)
        return {};
    QImage image(columns, rows, QImage::Format_RGB32);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x, p += samples)
            image.setPixel(x, y, samples == 1 ? qRgb(p[0], p[0], p[0]) : qRgb(p[0], p[1], p[2]));
    return image;
}

// A workspace, the owner window with its viewer, and the dialog under test
// driven without its modal loop.
struct Run {
    TestWorkspace ws;
    MessageRecorder messages;
    QWidget owner;
    imaging::DicomViewer* viewer = new imaging::DicomViewer(&owner);
    int checks = 0;
    int previews = 0;
    std::unique_ptr<importer::frmNoDCM> dialog;

    Run() {
        ws.mkpath("/NoDCM");
        ws.mkpath("/Messungen");
    }
    QString noDcm(const QString& name) const { return ws.path("/NoDCM/" + name); }
    QString folder() const { return ws.path("/Messungen/Messung_2026.12.05"); }
    QStringList converted() const {
        QStringList paths;
        for (const QString& name : QDir(folder() + "/Original").entryList(QDir::Files))
            paths << folder() + "/Original/" + name;
        return paths;
    }
    // Opens the dialog and lets its start timer fire.
    void open() {
        dialog = std::make_unique<importer::frmNoDCM>(
            &owner, viewer, [this] { ++checks; }, [this] { ++previews; });
        dialog->show();
        QVERIFY(QTest::qWaitFor([this] { return !dialog->tmrWork->isActive(); }));
    }
    void convertAll(const QString& cow, const QString& spacing) {
        for (int guard = 0; dialog->isVisible() && guard < 10; ++guard) {
            dialog->txtNumber->setText(cow);
            dialog->txtPixelSpacing->setText(spacing);
            dialog->dtpStudyDate->setDate(QDate(2026, 12, 5));
            dialog->cmdImport->click();
        }
    }
};

// Reads a converted file back and compares it with the attribute table.
void verifyConverted(const QString& path, const QString& cow, const QString& spacing) {
    imaging::ImageCollection images;
    images.readFile(path);
    const imaging::Image& image = images.item(1);
    const QString date = image.attribute(0x0008, 0x0020).value();
    const QString time = image.attribute(0x0008, 0x0030).value();
    const QDate day = QDate::fromString(date, "yyyyMMdd");
    QVERIFY(day == QDate::currentDate() || day == QDate::currentDate().addDays(-1));
    QVERIFY(QTime::fromString(time, "HHmmss").isValid());
    const importer::ImportUids uids{image.studyUid(), image.seriesUid(), image.imageUid()};
    QCOMPARE(QFileInfo(path).fileName(), uids.image + ".dcm");
    QVERIFY(uids.study != uids.series && uids.series != uids.image && uids.study != uids.image);
    const QDateTime now(QDate::fromString(date, "yyyyMMdd"), QTime::fromString(time, "HHmmss"));
    for (const importer::ImportAttribute& a : importer::importAttributes(uids, cow, spacing, now)) {
        QVERIFY2(!image.attribute(a.group, a.element).isNull(),
                 qPrintable(QString::number(a.element, 16)));
        QCOMPARE(image.attribute(a.group, a.element).value(), a.value);
    }
    QCOMPARE(image.attribute(0x0028, 0x0030).isNull(), spacing.isEmpty());
}

} // namespace

class tst_Import : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void attributeTable();
    void studyDate_data();
    void studyDate();
    void fullRunThroughModalDialog();
    void emptyFolder();
    void unreadableFilesAreSkipped();
    void convertedFilesPassDciodvfy();
    void focusAndClosingEarly();
    void failedStepsKeepTheBitmap();
    void moreThan32767Files();
};

void tst_Import::attributeTable() {
    const QDateTime now(QDate(2026, 3, 4), QTime(7, 8, 9));
    const QList<importer::ImportAttribute> expected{
        {0x0020, 0x000D, "1.1"},      {0x0020, 0x000E, "1.2"},      {0x0008, 0x0018, "1.3"},
        {0x0010, 0x0010, "17^17"},    {0x0010, 0x0020, "17"},       {0x0010, 0x0030, "20260304"},
        {0x0010, 0x0040, "O"},        {0x0028, 0x0030, "0.2\\0.2"}, {0x0028, 0x1050, "127"},
        {0x0028, 0x1051, "255"},      {0x0008, 0x0020, "20260304"}, {0x0008, 0x0021, "20260304"},
        {0x0008, 0x0023, "20260304"}, {0x0008, 0x0030, "070809"},   {0x0008, 0x0031, "070809"},
        {0x0008, 0x0032, "070809"},   {0x0008, 0x0033, "070809"},   {0x0008, 0x0060, "US"},
        {0x0008, 0x0080, "Jungrind"}, {0x0010, 0x1020, ""},         {0x0010, 0x1030, ""},
        {0x0010, 0x2180, ""},         {0x0010, 0x21B0, ""}};
    QCOMPARE(importer::importAttributes({"1.1", "1.2", "1.3"}, "17", "0.2\\0.2", now), expected);
    QList<importer::ImportAttribute> withoutSpacing = expected;
    withoutSpacing.removeAt(7);
    QCOMPARE(importer::importAttributes({"1.1", "1.2", "1.3"}, "17", "", now), withoutSpacing);
}

void tst_Import::studyDate_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QDate>("expected");
    QTest::newRow("stored") << "05.12.2026" << QDate(2026, 12, 5);
    QTest::newRow("folder form") << "2026.12.05" << QDate(2026, 12, 5);
    // The default's short form may have a two-digit year: no other century.
    QTest::newRow("default") << importer::generalDateText({{2025, 3, 4}, {14, 3, 5}})
                             << QDate(2025, 3, 4);
    QTest::newRow("not a date") << "morgen" << QDate(2025, 3, 4);
    QTest::newRow("out of range") << "01.01.1500" << QDate(2025, 3, 4);
}

void tst_Import::studyDate() {
    QFETCH(QString, stored);
    QFETCH(QDate, expected);
    QCOMPARE(importer::initialStudyDate(stored, {{2025, 3, 4}, {14, 3, 5}}), expected);
}

void tst_Import::fullRunThroughModalDialog() {
    Run run;
    const QList<QImage> sources{writeBmp(run.noDcm("a.bmp"), Bmp::Grey),
                                writeBmp(run.noDcm("B.bmp"), Bmp::Colour, 10, 5),
                                writeBmp(run.noDcm("c.bmp"), Bmp::TopDown, 9, 4)};
    run.owner.setGeometry(100, 100, 900, 700);
    run.owner.show();

    // Acts from inside the dialog's event loop, once per presented file.
    QStringList seen;
    QTimer driver;
    connect(&driver, &QTimer::timeout, [&] {
        auto* d = qobject_cast<importer::frmNoDCM*>(QApplication::activeModalWidget());
        if (!d || d->cmdImport->property("Tag").toString().isEmpty() ||
            seen.contains(d->lblInfo->text()))
            return;
        if (seen.isEmpty()) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Bild importieren"));
            QCOMPARE(d->size(), QSize(263, 302));
            QVERIFY((d->geometry().center() - run.owner.geometry().center()).manhattanLength() < 3);
        }
        seen << d->lblInfo->text();
        d->txtPixelSpacing->setText("0.2\\0.2");
        d->dtpStudyDate->setDate(QDate(2026, 12, 5));
        d->txtNumber->setText(QString::number(16 + seen.size()));
        QTest::keyClick(d, Qt::Key_Return); // the default button
    });
    driver.start(5);
    QTimer::singleShot(20000, &run.owner, [] { QApplication::activeModalWidget()->close(); });
    importer::openImportDialog(
        &run.owner, run.viewer, [&] { ++run.checks; }, [&] { ++run.previews; });
    driver.stop();

    QCOMPARE(seen, QStringList({"Bild 1 von 3", "Bild 2 von 3", "Bild 3 von 3"}));
    QCOMPARE(run.messages.count(), 0);
    QCOMPARE(run.checks, 1);
    QCOMPARE(run.previews, 3);
    QVERIFY(run.ws.fileNames("/NoDCM").isEmpty());
    QCOMPARE(QDir(run.folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"Gemessen", "Original", "Papierkorb"}));
    QCOMPARE(setting("PixelSpacing"), QStringLiteral("0.2\\0.2"));
    QCOMPARE(setting("StudyDate"), QStringLiteral("05.12.2026"));
    QCOMPARE(run.converted().size(), 3);
    for (const QString& path : run.converted()) {
        imaging::ImageCollection images;
        images.readFile(path);
        const int k = images.item(1).imageNumber().toInt() - 17;
        QVERIFY(k >= 0 && k < 3);
        verifyConverted(path, QString::number(17 + k), "0.2\\0.2");
        QCOMPARE(storedPixels(path), sources[k]);
        QCOMPARE(images.item(1).attribute(0x0028, 0x0004).value(),
                 QLatin1String(k == 0 ? "MONOCHROME2" : "RGB"));
    }
}

void tst_Import::emptyFolder() {
    Run run;
    QString text;
    bool dialogGone = false;
    const auto recorder = modGlobal::setMessageHandler([&](const modGlobal::Message& m) {
        text = m.text;
        dialogGone = m.icon == modGlobal::Icon::Information && !QApplication::activeModalWidget();
        return modGlobal::Answer::Ok;
    });
    importer::openImportDialog(&run.owner, run.viewer, [&] { ++run.checks; }, {});
    modGlobal::setMessageHandler(recorder);
    QCOMPARE(text, QStringLiteral("Es befinden sich keine externen Bilder im Verzeichnis."));
    QVERIFY(dialogGone);
    QCOMPARE(run.checks, 1);
    QCOMPARE(setting("PixelSpacing"), QString());
    QCOMPARE(setting("StudyDate"), QStringLiteral("10.01.2011"));
}

void tst_Import::unreadableFilesAreSkipped() {
    Run run;
    writeText(run.noDcm("a.txt"), "kein Bild");
    writeBmp(run.noDcm("b.bmp"), Bmp::Grey);
    writeText(run.noDcm("c.dcm"), QByteArray(300, 'x'));
    modINI::WritePrivateProfileString("GENERAL", "StudyDate", "05.12.2026", modINI::settingsFile());
    run.open();
    // The first file presented still takes the stored study date.
    QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 2 von 3"));
    QCOMPARE(run.dialog->dtpStudyDate->date(), QDate(2026, 12, 5));
    QCOMPARE(run.messages.count(), 1);
    QCOMPARE(run.messages.last().icon, modGlobal::Icon::Critical);
    QVERIFY(run.messages.last().text.contains("„a.txt“"));

    // b.bmp is converted, with a cow number outside ASCII and no spacing; c.dcm
    // fails and ends the run.
    run.convertAll("Kuh Ä", "");
    QVERIFY(!run.dialog->isVisible());
    QVERIFY(run.messages.last().text.contains("„c.dcm“"));
    QCOMPARE(run.dialog->cmdImport->property("Tag").toString(), QString());
    QCOMPARE(run.ws.fileNames("/NoDCM"), QStringList({"a.txt", "c.dcm"}));
    QCOMPARE(run.converted().size(), 1);
    verifyConverted(run.converted().first(), "Kuh Ä", "");
    QCOMPARE(run.checks, 1);
}

void tst_Import::convertedFilesPassDciodvfy() {
    if (!QFileInfo::exists("/usr/bin/dciodvfy"))
        QSKIP("dciodvfy is not installed");
    Run run;
    writeBmp(run.noDcm("a.bmp"), Bmp::Grey);
    writeBmp(run.noDcm("b.bmp"), Bmp::Colour);
    run.open();
    run.convertAll("Kuh Ä", "0.2\\0.2");
    QCOMPARE(run.converted().size(), 2);
    for (const QString& path : run.converted()) {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start("/usr/bin/dciodvfy", {path});
        QVERIFY(tool.waitForFinished(30000));
        const QString report = QString::fromUtf8(tool.readAll());
        QVERIFY2(!report.startsWith("Error") && !report.contains("\nError"), qPrintable(report));
    }
}

void tst_Import::focusAndClosingEarly() {
    Run run;
    writeBmp(run.noDcm("a.bmp"), Bmp::Grey);
    writeBmp(run.noDcm("b.bmp"), Bmp::Grey);
    QFile bitmap(run.noDcm("a.bmp"));
    QVERIFY(bitmap.open(QIODevice::ReadWrite));
    QVERIFY(bitmap.setFileTime({{2025, 3, 4}, {0, 0}}, QFileDevice::FileModificationTime));
    bitmap.close();

    // No settings: the first file's date, the focus in the cow number.
    run.open();
    QCOMPARE(run.dialog->dtpStudyDate->date(), QDate(2025, 3, 4));
    QCOMPARE(run.dialog->focusWidget(), run.dialog->txtNumber);
    QCOMPARE(run.viewer->images().item(1).width(), 13);
    QCOMPARE(run.previews, 1);
    run.dialog->txtPixelSpacing->setText("0.1\\0.1");
    run.dialog->close(); // early: both bitmaps stay
    QCOMPARE(run.checks, 1);
    QCOMPARE(run.ws.fileNames("/NoDCM"), QStringList({"a.bmp", "b.bmp"}));
    QCOMPARE(setting("PixelSpacing"), QStringLiteral("0.1\\0.1"));
    QCOMPARE(setting("StudyDate"), QStringLiteral("04.03.2025"));

    // A stored spacing takes the focus, wholly selected, for the first file only.
    run.open();
    QCOMPARE(run.dialog->focusWidget(), run.dialog->txtPixelSpacing);
    QCOMPARE(run.dialog->txtPixelSpacing->selectedText(), QStringLiteral("0.1\\0.1"));
    run.dialog->txtNumber->setText("5");
    run.dialog->cmdImport->click();
    QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 2 von 2"));
    QCOMPARE(run.dialog->lblFileName->text(), QStringLiteral("b.bmp"));
    QCOMPARE(run.dialog->txtNumber->text(), QString());
    QCOMPARE(run.dialog->focusWidget(), run.dialog->txtNumber);
    QCOMPARE(run.previews, 3);
}

void tst_Import::failedStepsKeepTheBitmap() {
    Run run;
    writeBmp(run.noDcm("a.bmp"), Bmp::Grey);
    writeBmp(run.noDcm("b.bmp"), Bmp::Grey);
    QDir(run.ws.root()).rmdir("Messungen");
    run.open();
    run.dialog->dtpStudyDate->setDate(QDate(2026, 12, 5));
    // No folder can be made: reported, and the dialog stays on the file.
    run.dialog->cmdImport->click();
    QCOMPARE(run.messages.count(), 1);
    QCOMPARE(run.messages.last().icon, modGlobal::Icon::Critical);
    QVERIFY(run.messages.last().text.contains("„a.bmp“"));
    QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 1 von 2"));
    QCOMPARE(run.ws.fileNames("/NoDCM").size(), 2);

    if (ignoresFilePermissions())
        QSKIP("file permissions do not apply to this user");
    const QString original = run.folder() + "/Original";
    run.ws.mkpath("/Messungen/Messung_2026.12.05/Original");
    QFile::setPermissions(original, QFile::ReadOwner | QFile::ExeOwner);
    run.dialog->cmdImport->click(); // the write fails: the file stays current
    QCOMPARE(run.messages.count(), 2);
    QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 1 von 2"));
    QFile::setPermissions(original, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(run.converted().isEmpty());

    // Written, but the read-only bitmap stays: the run moves on all the same.
    QFile::setPermissions(run.noDcm("a.bmp"), QFile::ReadOwner);
    run.dialog->cmdImport->click();
    QCOMPARE(run.messages.count(), 3);
    QVERIFY(run.messages.last().text.contains("„a.bmp“"));
    QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 2 von 2"));
    QCOMPARE(run.converted().size(), 1);
    QCOMPARE(run.ws.fileNames("/NoDCM"), QStringList({"a.bmp", "b.bmp"}));
}

void tst_Import::moreThan32767Files() {
    Run run;
    writeBmp(run.noDcm("a.bmp"), Bmp::Grey);
    for (int i = 0; i < 32767; ++i)
        writeText(run.noDcm(QStringLiteral("x%1").arg(i)), {});
    run.open();
    QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 1 von 32768"));
}

QTEST_MAIN(tst_Import)
#include "tst_import.moc"
