// The report command in the real main window, offscreen.
#include "DicomFixtures.h"
#include "TestSupport.h"
#include "app/frmMain.h"
#include "imaging/DicomViewer.h"
#include "imaging/Imaging.h"
#include "record/Record.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

class tst_ReportWindow : public QObject {
    Q_OBJECT

    // The current measurement with two images, the first measured.
    static void measuredDay(const TestWorkspace& ws) {
        const QString folder = ws.path("/Messungen/Messung");
        ws.mkpath("/Messungen/Messung/Original");
        ws.mkpath("/Messungen/Messung/Gemessen");
        fixtures::writeDicom(folder + "/Original/a.dcm",
                             {.patientId = "0017", .sopInstanceUid = "1.1", .pixelSpacing = "0.2"});
        fixtures::writeDicom(folder + "/Original/b.dcm",
                             {.patientId = "18", .sopInstanceUid = "1.2"});
        imaging::ImageCollection images;
        images.readFile(folder + "/Original/a.dcm");
        imaging::Image copy = images.item(1).saveImage(true, record::kMeasuredCopyDerivation);
        copy.addAttribute(0x0020, 0x4000, "Messwerte ab Startlinie 10: 30,5 mm");
        copy.write(folder + "/Gemessen/0017.dcm", true);
        record::saveEntries(
            folder, {{"0017", "1.1", "05.12.2026", "05.12.2026 09:00:00", {{"30,5", "mm", "10"}}}});
    }

    static void choose(frmMain& w, const QString& entry) {
        const int index = w.cboDone->findText(entry);
        QVERIFY2(index >= 0, qPrintable(entry));
        w.cboDone->setCurrentIndex(index);
        Q_EMIT w.cboDone->activated(index);
    }

private Q_SLOTS:
    void initTestCase() { imaging::initialise(); }

    // Beside "Messungen:", clear of the label's text, the selector and the
    // panel's edge, so that it is on screen even at 1366 x 768.
    void theCommandSitsBesideTheFolderLabel() {
        TestWorkspace ws;
        frmMain w;
        QCOMPARE(w.cmdReport->text(), QStringLiteral("Bericht"));
        QCOMPARE(w.cmdReport->parentWidget(), w.picMain);
        QCOMPARE(w.cmdReport->geometry().right(), w.cboDone->geometry().right());
        QVERIFY(w.cmdReport->geometry().bottom() < w.cboDone->y());
        const int labelText =
            w.lblMain->x() + w.lblMain->fontMetrics().horizontalAdvance(w.lblMain->text());
        QVERIFY(w.cmdReport->x() > labelText);
        QVERIFY(w.cmdReport->fontMetrics().horizontalAdvance(w.cmdReport->text()) <
                w.cmdReport->width() - 8);
        // The values label keeps its place below "Ordner archivieren".
        QVERIFY(w.lblValues->y() > w.cmdCloseStudy->geometry().bottom());
    }

    void writesAndOpensTheReport() {
        TestWorkspace ws;
        MessageRecorder messages;
        measuredDay(ws);
        frmMain w;
        QList<QUrl> opened;
        w.openDocument = [&](const QUrl& url) { opened << url; };
        QVERIFY(w.Form_Load());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.cmdReport->isEnabled());
        choose(w, "- Aktuelle Messung -");
        QVERIFY(w.cmdReport->isEnabled());

        // The bar shows while the thumbnails render, up to the full bar.
        int highest = 0;
        bool hidden = false;
        connect(w.prgBar, &QProgressBar::valueChanged, this, [&](int value) {
            hidden = hidden || !w.prgBar->isVisible();
            highest = std::max(highest, value);
        });
        QTest::mouseClick(w.cmdReport, Qt::LeftButton);
        QCOMPARE(messages.count(), 0);
        const QString pdf = ws.path("/Messungen/Messung/Bericht_2026.12.05.pdf");
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(pdf)});
        QVERIFY(QFileInfo(pdf).size() > 0);
        QVERIFY(QFileInfo(ws.path("/Messungen/Messung/Messwerte.xlsx")).size() > 0);
        // One measured copy: one thumbnail of one.
        QCOMPARE(highest, 1);
        QCOMPARE(w.prgBar->maximum(), 1);
        QVERIFY(!hidden);
        QVERIFY(!w.prgBar->isVisible());
        QVERIFY(w.cmdReport->isEnabled());
    }

    void aFailureIsReportedAndNothingOpens() {
        TestWorkspace ws;
        MessageRecorder messages;
        measuredDay(ws);
        ws.mkpath("/Messungen/Messung/Bericht_2026.12.05.pdf");
        frmMain w;
        QList<QUrl> opened;
        w.openDocument = [&](const QUrl& url) { opened << url; };
        QVERIFY(w.Form_Load());
        choose(w, "- Aktuelle Messung -");
        QTest::mouseClick(w.cmdReport, Qt::LeftButton);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().icon, modGlobal::Icon::Critical);
        QVERIFY2(messages.last().text.contains("Der Bericht \u201E"),
                 qPrintable(messages.last().text));
        QVERIFY(opened.isEmpty());
        QVERIFY(!w.prgBar->isVisible());
    }

    void aFolderWithoutMeasurementsHasNoReport() {
        TestWorkspace ws;
        MessageRecorder messages;
        ws.mkpath("/Messungen/Messung/Original");
        fixtures::writeDicom(ws.path("/Messungen/Messung/Original/a.dcm"), {.patientId = "17"});
        frmMain w;
        QVERIFY(w.Form_Load());
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        choose(w, "- Aktuelle Messung -");
        QVERIFY(!w.cmdReport->isEnabled());

        // The first save, here by F9, gives the folder its report.
        QTest::keyClick(&w, frmMain::kNextKey);
        Q_EMIT w.dvIMG->viewerMouseEvent(1, 0, 10, 10);
        QTest::keyClick(&w, frmMain::kSaveAndNextKey);
        QCOMPARE(messages.count(), 0);
        QVERIFY(QFileInfo::exists(ws.path("/Messungen/Messung/Gemessen/17.dcm")));
        QTRY_VERIFY(w.cmdReport->isEnabled());
    }
};

QTEST_MAIN(tst_ReportWindow)
#include "tst_reportwindow.moc"
