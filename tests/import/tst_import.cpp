#include "DicomFixtures.h"
#include "Interruption.h"
#include "TestSupport.h"
#include "global/Durable.h"
#include "imaging/DicomViewer.h"
#include "import/Conversion.h"
#include "import/ImportDialog.h"
#include "settings/modINI.h"

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using fixtures::BmpSpec;
#if defined(Q_OS_LINUX)
using interruption::KillAt;
#endif
using modGlobal::Icon;

namespace {

// An attribute as "(gggg,eeee) value", "(gggg,eeee) -" when absent, so a failed
// comparison names the attribute.
QString shown(const imaging::Image& image, quint16 group, quint16 element) {
    const auto hex = [](quint16 n) {
        return QString::number(n, 16).rightJustified(4, '0').toUpper();
    };
    const imaging::Attribute a = image.attribute(group, element);
    return "(" + hex(group) + "," + hex(element) + ") " + (a.isNull() ? "-" : a.value());
}

// Reads a converted file back: the attributes the import writes and the pixels
// of the bitmap imported under its cow number, with the pixel spacing written for it.
void verifyConverted(const QString& path, const QMap<QString, std::pair<BmpSpec, QString>>& cows) {
    imaging::ImageCollection images;
    images.readFile(path);
    const imaging::Image& image = images.item(1);
    // Dates and times are those of the import, one clock reading for all.
    const QString date = image.attribute(0x0008, 0x0020).value();
    const QString time = image.attribute(0x0008, 0x0030).value();
    const QDateTime written(QDate::fromString(date, "yyyyMMdd"), QTime::fromString(time, "HHmmss"));
    QVERIFY(written.isValid());
    QVERIFY(written.secsTo(QDateTime::currentDateTime()) < 600);
    QCOMPARE(QFileInfo(path).fileName(), image.imageUid() + ".dcm");
    QCOMPARE_NE(image.studyUid(), image.seriesUid());
    QCOMPARE_NE(image.seriesUid(), image.imageUid());
    QCOMPARE_NE(image.studyUid(), image.imageUid());
    const QString cow = image.imageNumber();
    QVERIFY2(cows.contains(cow), qPrintable(cow));
    const auto& [bmp, spacing] = cows[cow];
    const QStringList expected = {
        "(0010,0010) " + cow + "^" + cow,
        "(0010,0020) " + cow,
        "(0010,0030) " + date,
        "(0010,0040) O",
        "(0028,0030) " + (spacing.isEmpty() ? "-" : spacing),
        "(0028,1050) 127",
        "(0028,1051) 255",
        "(0008,0021) " + date,
        "(0008,0023) " + date,
        "(0008,0031) " + time,
        "(0008,0032) " + time,
        "(0008,0033) " + time,
        "(0008,0060) US",
        "(0008,0080) Jungrind",
        "(0010,1020) ",
        "(0010,1030) ",
        "(0010,2180) ",
        "(0010,21B0) ",
    };
    for (const QString& attribute : expected) {
        const quint16 group = attribute.mid(1, 4).toUShort(nullptr, 16);
        const quint16 element = attribute.mid(6, 4).toUShort(nullptr, 16);
        QCOMPARE(shown(image, group, element), attribute);
    }
    QCOMPARE(image.displayImage().size(), QSize(bmp.width, bmp.height));
    // Up to 1 off: the stored window rounds on display; importsBitmapsExactly has the exact values.
    QVERIFY(largestDifference(image.displayImage(),
                              [&](int x, int y) { return fixtures::bmpColour(bmp, x, y); }) <= 1);
}

// A workspace, the owner window with its viewer, and the dialog driven without its modal loop.
struct Run {
    TestWorkspace ws;
    MessageRecorder messages;
    QWidget owner;
    imaging::DicomViewer* viewer = new imaging::DicomViewer(&owner);
    int checks = 0, previews = 0;
    session::Session session;
    const session::Controls controls{.form = &owner, .dvIMG = viewer};
    std::unique_ptr<importer::frmNoDCM> dialog;

    Run() {
        ws.mkpath("/NoDCM");
        ws.mkpath("/Messungen");
    }
    QString noDcm(const QString& name) const { return ws.path("/NoDCM/" + name); }
    QString folder() const { return ws.path("/Messungen/Messung_2026.12.05"); }
    QFileInfoList converted() const {
        return QDir(folder() + "/Original").entryInfoList(QDir::Files);
    }
    // Opens the dialog on the bitmaps and lets its start timer fire.
    void open(const QList<BmpSpec>& bitmaps) {
        for (qsizetype i = 0; i < bitmaps.size(); ++i)
            fixtures::writeBmp(noDcm(QStringLiteral("%1.bmp").arg(i)), bitmaps[i]);
        dialog = std::make_unique<importer::frmNoDCM>(
            session, controls, [this](auto&, auto&) { ++checks; },
            [this](auto&, auto&) { ++previews; });
        dialog->show();
        QVERIFY(QTest::qWaitFor([this] { return !dialog->tmrWork->isActive(); }));
    }
    void import(const QString& cow, const QString& spacing) {
        dialog->txtNumber->setText(cow);
        dialog->txtPixelSpacing->setText(spacing);
        dialog->dtpStudyDate->setDate(QDate(2026, 12, 5));
        dialog->cmdImport->click();
    }
};

const BmpSpec kGrey{8, true, false, 13, 7};

} // namespace

class tst_Import : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Other files are named and skipped; closing leaves the bitmaps not yet imported.
    void importsBitmapsAndSkipsOtherFiles() {
        Run run;
        fixtures::writeDicom(run.noDcm("-.dcm"), fixtures::DicomSpec()); // listed first
        const BmpSpec colour{24, true, true, 9, 4};
        run.open({kGrey, colour, kGrey});
        QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 2 von 4"));
        run.import("Kuh Ä", "");
        QCOMPARE(run.dialog->lblInfo->text(), QStringLiteral("Bild 3 von 4"));
        run.import("0", "0,2"); // square pixels, as a German operator types them
        run.dialog->close();
        QCOMPARE(run.checks, 1);
        QCOMPARE(run.previews, 3);
        QCOMPARE(run.messages.count(), 1);
        QVERIFY(run.messages.last().text.contains("„-.dcm“"));
        QCOMPARE(run.ws.fileNames("/NoDCM"), QStringList({"-.dcm", "2.bmp"}));
        QCOMPARE(QDir(run.folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList({"Gemessen", "Original", "Papierkorb"}));
        const QString ini = modINI::settingsFile();
        QCOMPARE(modINI::ReadIniValue("GENERAL", "PixelSpacing", "", ini, 256), "0,2");
        QCOMPARE(modINI::ReadIniValue("GENERAL", "StudyDate", "", ini, 256), "05.12.2026");
        QCOMPARE(run.converted().size(), 2);
        for (const QFileInfo& file : run.converted())
            verifyConverted(file.filePath(), {{"0", {colour, "0.2\\0.2"}}, {"Kuh Ä", {kGrey, ""}}});
    }

    void emptyFolderIsReportedAfterClosing() {
        Run run;
        QStringList texts;
        QWidget* owner = nullptr;
        const auto recorder = modGlobal::setMessageHandler([&](const modGlobal::Message& m) {
            texts << (QApplication::activeModalWidget() ? "over the dialog: " : "") + m.text;
            owner = m.owner;
            return modGlobal::Answer::Ok;
        });
        importer::openImportDialog(run.session, run.controls, [&](auto&, auto&) { ++run.checks; },
                                   {});
        modGlobal::setMessageHandler(recorder);
        QCOMPARE(texts, QStringList{"Es befinden sich keine externen Bilder im Verzeichnis."});
        QCOMPARE(owner, &run.owner); // the dialog is closed by then
        QCOMPARE(run.checks, 1);
    }

    // Nothing is written, the dialog stays open on the bitmap and the message
    // names the cause; once the cause is gone it imports.
    void refusedImportKeepsTheBitmap_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("spacing");
        QTest::addColumn<Icon>("icon"); // Critical: a file where the measurement folder belongs
        QTest::addColumn<QString>("named");
        const QString rule = QStringLiteral("64 Zeichen"); // what a number may hold
        QTest::newRow("invalid pixel spacing") << "17"
                                               << "0,2\\0" << Icon::Warning << "„0,2\\0“";
        QTest::newRow("measurement folder blocked")
            << "17"
            << "" << Icon::Critical << "Die Datei bleibt im Verzeichnis NoDCM.";
        QTest::newRow("backslash") << "17\\18"
                                   << "" << Icon::Warning << rule;
        QTest::newRow("65 characters") << QString(65, '1') << "" << Icon::Warning << rule;
        QTest::newRow("tab") << "17\t"
                             << "" << Icon::Warning << rule;
        QTest::newRow("DEL") << "17\x7f"
                             << "" << Icon::Warning << rule;
    }
    void refusedImportKeepsTheBitmap() {
        QFETCH(QString, number);
        QFETCH(QString, spacing);
        QFETCH(Icon, icon);
        QFETCH(QString, named);
        Run run;
        const bool blocked = icon == Icon::Critical;
        if (blocked)
            writeFile(run.folder());
        run.open({kGrey});
        run.import(number, spacing);
        QCOMPARE(run.messages.count(), 1);
        QCOMPARE(run.messages.last().icon, icon);
        QCOMPARE(run.messages.last().owner, run.dialog.get());
        QVERIFY2(run.messages.last().text.contains(named), qPrintable(run.messages.last().text));
        QVERIFY(run.dialog->isVisible());
        QVERIFY(!QFileInfo(run.folder()).isDir());
        QCOMPARE(QFileInfo::exists(run.folder()), blocked);
        QCOMPARE(run.ws.fileNames("/NoDCM"), QStringList{"0.bmp"});
        QVERIFY(!blocked || QFile::remove(run.folder()));
        run.import("17", "");
        QVERIFY(!run.dialog->isVisible());
        QCOMPARE(run.converted().size(), 1);
        QVERIFY(run.ws.fileNames("/NoDCM").isEmpty());
    }

    // Killed at any step, an import leaves the bitmap either still waiting or
    // imported exactly once, and no temporary file or journal, after the next start.
    void interruptedImport_data() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs a forked child killed at an interposed file call (Linux).");
#else
        QTest::addColumn<KillAt>("at");
        QTest::addColumn<QString>("part"); // of the path at which the child is killed
        QTest::addColumn<bool>("imported");
        QTest::newRow("writing the image") << KillAt::Rename << "/Original/." << false;
        QTest::newRow("deleting the bitmap") << KillAt::Remove << "0.bmp" << true;
#endif
    }
    void interruptedImport() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs a forked child killed at an interposed file call (Linux).");
#else
        QFETCH(KillAt, at);
        QFETCH(QString, part);
        QFETCH(bool, imported);
        Run run;
        run.open({kGrey});
        QCOMPARE(interruption::runInChild([&] { run.import("17", ""); }, at, part), "killed");

        durable::completeInterruptedReplacement(&run.owner);
        QCOMPARE(run.ws.fileNames("/NoDCM").size(), imported ? 0 : 1);
        QCOMPARE(run.converted().size(), imported ? 1 : 0);
        QCOMPARE(QDir(run.folder() + "/Original").entryList({".*"}, QDir::Files | QDir::Hidden),
                 QStringList());
        QVERIFY(!QFile::exists(durable::journalFile()));
        QCOMPARE(run.messages.count(), 0);
#endif
    }

    // A bitmap cut off inside its pixels is refused, named and kept, not imported in part.
    void cutOffBitmapStaysInNoDcm() {
        Run run;
        fixtures::writeBmp(run.noDcm("0.bmp"), kGrey);
        QFile bitmap(run.noDcm("0.bmp"));
        QVERIFY(bitmap.resize(bitmap.size() - 20));
        run.open({});
        QCOMPARE(run.messages.count(), 1);
        QVERIFY2(run.messages.last().text.contains("„0.bmp“"),
                 qPrintable(run.messages.last().text));
        QCOMPARE(run.ws.fileNames("/NoDCM"), QStringList{"0.bmp"});
        QVERIFY(run.converted().isEmpty());
    }

    void pixelSpacingValue_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written"); // "-": refused
        const auto row = [](const char* name, const char* typed, const char* written) {
            QTest::newRow(name) << QString::fromUtf8(typed) << QString::fromUtf8(written);
        };
        row("decimal commas", "0,2\\0,25", "0.2\\0.25");
        row("one value: square pixels", "0,2", "0.2\\0.2");
        row("one value with a decimal point", "0.2", "0.2\\0.2");
        row("one value of zero", "0", "-");
        row("three values", "0,2\\0,2\\0,2", "-");
        row("letters", "abc\\0,2", "-");
        row("thousands separator", "1.000,5\\1", "-");
        row("zero", "0\\0,2", "-");
        row("negative", "-0,2\\0,2", "-");
        row("longer than 16 characters", "0,12345678901234567\\0,2", "-");
    }
    void pixelSpacingValue() {
        QFETCH(QString, typed);
        QTEST(importer::pixelSpacingValue(typed).value_or("-"), "written");
    }
};

QTEST_MAIN(tst_Import)
#include "tst_import.moc"
