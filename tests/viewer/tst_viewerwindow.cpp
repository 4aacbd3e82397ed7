// Measuring in the real window: the guide and the loupe that follow the
// pointer, undo and redo, and clicks that must count once.
#include "DicomFixtures.h"
#include "TestSupport.h"
#include "app/frmMain.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {

// The guide's light blue, told apart from grey, the red lines and the yellow start line.
bool isGuideColour(QColor c) {
    return c.blue() > 200 && c.red() < 80 && c.green() > 150 && c.green() < 240;
}

int guidePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += isGuideColour(image.pixelColor(x, y));
    return count;
}

} // namespace

class tst_ViewerWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> messages;
    std::unique_ptr<frmMain> w;

    imaging::LabelList& labels() { return w->dvIMG->images().item(1).labels(); }
    QString clipboard() const { return QGuiApplication::clipboard()->text(); }
    // The widget pixel that shows image pixel (x, y).
    QPoint at(int x, int y) const { return w->dvIMG->placement().surfacePixelOf(QPoint(x, y)); }

    void clickRow(const QString& number, Qt::MouseButton button = Qt::LeftButton) {
        QTreeWidgetItem* row = w->lvwList->findItems(number, Qt::MatchExactly).value(0);
        QVERIFY2(row, qPrintable(number));
        QTest::mouseClick(w->lvwList->viewport(), button, {},
                          w->lvwList->visualItemRect(row).center());
    }
    void clickImage(int x, int y, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(w->dvIMG, button, modifiers, at(x, y));
    }
    // A pointer move as the window system reports it, with the keys held.
    void movePointer(QPoint to, Qt::KeyboardModifiers modifiers = {}) {
        QMouseEvent move(QEvent::MouseMove, to, w->dvIMG->mapToGlobal(QPointF(to)), Qt::NoButton,
                         Qt::NoButton, modifiers);
        QApplication::sendEvent(w->dvIMG, &move);
    }
    void leaveViewer() {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w->dvIMG, &leave);
    }
    void key(QWidget* focus, Qt::Key k, Qt::KeyboardModifiers modifiers) {
        focus->setFocus();
        QTest::keyClick(focus, k, modifiers);
    }
    // The window on the current measurement, image 17 shown.
    void openWindow() {
        w = std::make_unique<frmMain>();
        QVERIFY(w->Form_Load());
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        const int current = w->cboDone->findText(QStringLiteral("- Aktuelle Messung -"));
        w->cboDone->setCurrentIndex(current);
        Q_EMIT w->cboDone->activated(current);
        clickRow("17");
        QCOMPARE(w->dvIMG->tag(), QStringLiteral("ORIGINAL"));
    }
    // The value texts under the commands.
    QString values() const { return w->lblValues->text(); }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    // Image 17: 400 × 400 grey, 0.2 mm rows; image 18: 1000 × 60 RGB, wider
    // than the viewer, each row's blue apart from its neighbours'. Start line 100.
    void init() {
        ws = std::make_unique<TestWorkspace>();
        messages = std::make_unique<MessageRecorder>();
        ws->mkpath("/Messungen/Messung/Original");
        writeFile(ws->path("/Settings.ini"), "[GENERAL]\r\nStartLine=100\r\n");
        fixtures::writeDicom(
            ws->path("/Messungen/Messung/Original/a.dcm"),
            {.patientId = "17", .pixelSpacing = "0.2\\0.2", .width = 400, .height = 400});
        fixtures::writeVariant(ws->path("/Messungen/Messung/Original/b.dcm"),
                               {.base = {.patientId = "18", .width = 1000, .height = 60},
                                .colour = fixtures::Colour::Rgb});
        openWindow();
        QGuiApplication::clipboard()->setText(QStringLiteral("vorher"));
    }
    void cleanup() {
        QCOMPARE(messages->count(), 0);
        w.reset();
        messages.reset();
        ws.reset();
    }

    // The guide shows the line a click would add, with its length, and goes
    // whenever a click would add none.
    void guideFollowsPointer() {
        const QPoint pointer = at(40, 252);
        movePointer(pointer);
        const std::optional<imaging::MeasurementGuide> guide = w->dvIMG->guide();
        QVERIFY(guide);
        QCOMPARE(QRect(guide->column, guide->fromRow, 1, guide->toRow - guide->fromRow),
                 QRect(40, 100, 1, 152));
        QCOMPARE(guide->text, QStringLiteral("30,4 mm")); // 152 rows of 0.2 mm
        // Drawn on the widget column and rows the line will take, nowhere beside them.
        const QImage shown = w->dvIMG->grab().toImage();
        const int top = at(40, 100).y();
        int onColumn = 0;
        int beside = 0;
        for (int y = top + 1; y < pointer.y(); ++y) {
            onColumn += isGuideColour(shown.pixelColor(pointer.x(), y));
            beside += isGuideColour(shown.pixelColor(pointer.x() - 1, y));
            beside += isGuideColour(shown.pixelColor(pointer.x() + 1, y));
        }
        QCOMPARE(onColumn, pointer.y() - top - 1);
        QCOMPARE(beside, 0);
        // Hovering measures nothing and leaves the clipboard alone.
        QCOMPARE(labels().count(), 0);
        QCOMPARE(clipboard(), QStringLiteral("vorher"));

        leaveViewer();
        QVERIFY(!w->dvIMG->guide());
        QCOMPARE(guidePixels(w->dvIMG->grab().toImage()), 0);

        // Below the image's last row, in the viewer: no pixel of the image.
        const QRect surface = w->dvIMG->placement().surfaceRect();
        QVERIFY(surface.bottom() + 1 < w->dvIMG->height());
        movePointer(QPoint(pointer.x(), surface.bottom() + 1));
        QVERIFY(!w->dvIMG->guide());

        // The start-line pick armed: the next click sets the start line.
        movePointer(pointer);
        QTest::mouseDClick(w->picStartLine, Qt::LeftButton);
        QVERIFY(!w->dvIMG->guide());
        QCOMPARE(guidePixels(w->dvIMG->grab().toImage()), 0);
        clickImage(5, 200);
        movePointer(pointer);
        QCOMPARE(w->dvIMG->guide()->text, QStringLiteral("10,4 mm")); // from the new start line

        // A measured copy is never measured on.
        QTest::keyClick(w.get(), Qt::Key_Return);
        clickRow("17", Qt::RightButton);
        QCOMPARE(w->dvIMG->tag(), QString());
        movePointer(pointer);
        QVERIFY(!w->dvIMG->guide());
    }

    // A click on the band below the image measures nothing and leaves the
    // clipboard alone; one on the image's last row measures.
    void clickBelowTheImage() {
        const QRect shown = w->dvIMG->placement().surfaceRect();
        QVERIFY(shown.bottom() + 1 < w->dvIMG->height());
        QTest::mouseClick(w->dvIMG, Qt::LeftButton, {},
                          QPoint(shown.center().x(), shown.bottom() + 1));
        QCOMPARE(labels().count(), 0);
        QCOMPARE(clipboard(), QStringLiteral("vorher"));
        QTest::mouseClick(w->dvIMG, Qt::LeftButton, {}, QPoint(shown.center().x(), shown.bottom()));
        QCOMPARE(labels().count(), 2);
    }

    void noGuideWithoutStartLine() {
        writeFile(ws->path("/Settings.ini"), "[GENERAL]\r\nStartLine=oben\r\n");
        w.reset();
        openWindow();
        movePointer(at(40, 250));
        QVERIFY(!w->dvIMG->guide());
    }

    // Neither a saved copy nor the clipboard gets anything of the guide.
    void guideNotSaved() {
        movePointer(at(40, 250));
        clickImage(40, 250);
        // The line just measured shows red over the guide that foretold it.
        QCOMPARE(w->dvIMG->grab().toImage().pixelColor(at(40, 200)), QColor(255, 0, 0));
        movePointer(at(60, 200));
        QCOMPARE(w->dvIMG->guide()->text, QStringLiteral("20 mm"));
        QTest::keyClick(w.get(), Qt::Key_Return);
        QCOMPARE(clipboard(), QStringLiteral("30"));
        imaging::ImageCollection copy;
        copy.readFile(ws->path("/Messungen/Messung/Gemessen/17.dcm"));
        QCOMPARE(copy.item(1).labels().count(), 0);
        QCOMPARE(guidePixels(copy.item(1).displayImage()), 0);
    }

    // With Shift held the loupe shows the pointer's neighbourhood, four
    // widget pixels to an image pixel, the pointer's pixel at its centre.
    void loupeShowsPointerPixel() {
        clickRow("18");
        QVERIFY(w->dvIMG->placement().scale() < 1.0);
        const QPoint pointer = w->dvIMG->placement().surfaceRect().center();
        const QPoint pixel = w->dvIMG->placement().imagePixelAt(pointer);
        movePointer(pointer);
        QCOMPARE(w->dvIMG->loupeRect(), QRect());

        movePointer(pointer, Qt::ShiftModifier);
        const QRect loupe = w->dvIMG->loupeRect();
        QCOMPARE(loupe.size(), QSize(162, 162)); // 160 and the frame
        QVERIFY(!loupe.contains(pointer));
        const QImage shown = w->dvIMG->grab().toImage();
        const QPoint centre = loupe.topLeft() + QPoint(1 + 80, 1 + 80);
        const auto colourAt = [&](int x, int y) { return fixtures::patternColour(x, y, 1000, 60); };
        QCOMPARE(shown.pixel(centre), colourAt(pixel.x(), pixel.y()));
        // Rows of four widget pixels, beside the guide's column.
        QCOMPARE(shown.pixel(centre + QPoint(1, 4)), colourAt(pixel.x(), pixel.y() + 1));
        QCOMPARE(shown.pixel(centre + QPoint(1, -8)), colourAt(pixel.x(), pixel.y() - 2));
        QCOMPARE(shown.pixel(centre + QPoint(1, 16)), colourAt(pixel.x(), pixel.y() + 4));
        // The guide runs down to the start line below the image, on the centre column.
        QVERIFY(isGuideColour(shown.pixelColor(centre + QPoint(0, 30))));

        // Shift let go, wherever the focus is: the loupe goes.
        QTest::keyRelease(w->lvwList, Qt::Key_Shift);
        QCOMPARE(w->dvIMG->loupeRect(), QRect());
        QTest::keyPress(w->lvwList, Qt::Key_Shift);
        QCOMPARE(w->dvIMG->loupeRect(), loupe);
        leaveViewer();
        QCOMPARE(w->dvIMG->loupeRect(), QRect());
        QTest::keyRelease(w->lvwList, Qt::Key_Shift);

        // A Shift click measures the loupe's centre, the pixel a plain click measures.
        QTest::mouseClick(w->dvIMG, Qt::LeftButton, Qt::ShiftModifier, pointer);
        QCOMPARE(labels().count(), 2);
        const imaging::Label shiftLine = labels().item(1);
        QTest::mouseClick(w->dvIMG, Qt::RightButton, {}, pointer);
        QTest::mouseClick(w->dvIMG, Qt::LeftButton, {}, pointer);
        QCOMPARE(labels().count(), 2);
        QCOMPARE(QPoint(shiftLine.left, shiftLine.top + shiftLine.height), pixel);
        QCOMPARE(QPoint(labels().item(1).left, labels().item(1).top + labels().item(1).height),
                 pixel);
    }

    // Four times what the view shows, never fewer than four widget pixels to an
    // image pixel, never so many that the loupe shows fewer than eight across.
    void loupeZoom_data() {
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("zoom");
        QTest::newRow("image larger than the view") << 0.6 << 4;
        QTest::newRow("640 wide at 1920 x 1080") << 2.17 << 9;
        QTest::newRow("a few pixels filling the view") << 300.0 << 20;
    }
    void loupeZoom() {
        QFETCH(double, scale);
        QTEST(imaging::DicomViewer::loupeZoom(scale), "zoom");
    }

    // Near the right and the top edge the loupe moves to the other side of the pointer.
    void loupeFlipsAtEdges() {
        const QRect surface = w->dvIMG->placement().surfaceRect();
        const QPoint corner(surface.right() - 2, surface.top() + 2);
        QVERIFY(corner.x() + 24 + 162 > w->dvIMG->width());
        movePointer(corner, Qt::ShiftModifier);
        QCOMPARE(w->dvIMG->loupeRect(), QRect(corner.x() - 24 - 162, corner.y() + 24, 162, 162));
    }

    void undoAndRedo() {
        clickImage(40, 250);
        clickImage(40, 160);
        QCOMPARE(clipboard(), QStringLiteral("12"));
        key(w->lvwList, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 30 mm"));
        QCOMPARE(clipboard(), QString());
        key(w->lvwList, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 30 mm\n2. 12 mm"));
        QCOMPARE(clipboard(), QStringLiteral("12"));
        // Two taken away, the older one back first with Ctrl+Shift+Z.
        key(w->cmdSave, Qt::Key_Z, Qt::ControlModifier);
        key(w->cmdSave, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(values(), QString());
        key(w->cmdSave, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 30 mm"));
        QCOMPARE(clipboard(), QStringLiteral("30"));
        // A right click is undone alike.
        clickImage(40, 250, Qt::RightButton);
        QCOMPARE(values(), QString());
        key(w->lvwList, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 30 mm"));

        // A new measurement ends redo: the 12 mm taken away stays away.
        key(w->lvwList, Qt::Key_Z, Qt::ControlModifier);
        clickImage(40, 200);
        key(w->lvwList, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 20 mm"));
        QCOMPARE(clipboard(), QStringLiteral("20"));
    }

    void redoEndsOnSaveAndOtherImage() {
        clickImage(40, 250);
        clickImage(40, 160);
        key(w->lvwList, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(w.get(), Qt::Key_Return);
        key(w->lvwList, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 30 mm"));

        // Leaving the image with the 30 mm taken away asks; "Verwerfen" goes on.
        key(w->lvwList, Qt::Key_Z, Qt::ControlModifier);
        messages->setAnswerFor(modGlobal::Buttons::SaveDiscardCancel, modGlobal::Answer::Discard);
        clickRow("17");
        messages->clear();
        key(w->lvwList, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(labels().count(), 0);
    }

    // The number field keeps Ctrl+Z for its own text.
    void textFieldKeepsItsUndo() {
        clickImage(40, 250);
        w->chkEdit->click();
        QVERIFY(w->txtEdit->isEnabled());
        w->txtEdit->setFocus();
        QTest::keyClicks(w->txtEdit, QStringLiteral("5"));
        QCOMPARE(w->txtEdit->text(), QStringLiteral("175"));
        QTest::keyClick(w->txtEdit, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->txtEdit->text(), QStringLiteral("17"));
        QCOMPARE(labels().count(), 2);
    }

    // A double click arrives as a click and then the double click itself.
    void doubleClickMeasuresOnce() {
        QTest::mouseClick(w->dvIMG, Qt::LeftButton, {}, at(40, 250));
        QTest::mouseDClick(w->dvIMG, Qt::LeftButton, {}, at(40, 250));
        QCOMPARE(values(), QStringLiteral("Messwerte:\n1. 30 mm"));
    }
};

QTEST_MAIN(tst_ViewerWindow)
#include "tst_viewerwindow.moc"
