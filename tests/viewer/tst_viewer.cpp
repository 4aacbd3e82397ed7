#include "DicomFixtures.h"
#include "TestSupport.h"
#include "Viewer.h"
#include "modINI.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using imagelist::ListView;
using modGlobal::Answer;
using modGlobal::Icon;

namespace {

const QString kFolder = u"/Messungen/Messung"_s;

// The main window's controls, standalone.
struct Window {
    QWidget form;
    ListView* list = new ListView(&form);
    imaging::DicomViewer* viewer = new imaging::DicomViewer(&form);
    QLineEdit* txtEdit = new QLineEdit(&form);
    QCheckBox* chkEdit = new QCheckBox(&form);
    QPushButton* cmdEdit = new QPushButton(&form);
    QPushButton* cmdDelete = new QPushButton(&form);
    QPushButton* cmdSave = new QPushButton(&form);
    QPushButton* cmdCloseStudy = new QPushButton(&form);
    QString folder;

    viewer::Controls controls() {
        return {&form,   list,      viewer,  txtEdit,       chkEdit,
                cmdEdit, cmdDelete, cmdSave, cmdCloseStudy, &folder};
    }
    bool commandsEnabled() const {
        return cmdSave->isEnabled() && cmdDelete->isEnabled() && chkEdit->isEnabled();
    }
    bool commandsDisabled() const {
        return !cmdSave->isEnabled() && !cmdDelete->isEnabled() && !chkEdit->isEnabled() &&
               !chkEdit->isChecked() && !cmdEdit->isEnabled() && !txtEdit->isEnabled();
    }
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

imaging::Image readImage(const QString& path) {
    imaging::ImageCollection images;
    images.readFile(path);
    return images.item(1);
}

fixtures::DicomSpec dicom(const QString& number, const QString& uid, const QString& spacing,
                          int width, int height) {
    fixtures::DicomSpec image;
    image.patientId = number;
    image.sopInstanceUid = uid;
    image.pixelSpacing = spacing;
    image.width = width;
    image.height = height;
    return image;
}

bool isRed(QRgb p) {
    return qRed(p) > 200 && qGreen(p) < 80 && qBlue(p) < 80;
}

} // namespace

class tst_Viewer : public QObject {
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<Window> w;

    viewer::Controls c() { return w->controls(); }
    QString folder(const QString& relative) const { return ws->path(kFolder + relative); }
    const imaging::LabelList& labels() const { return w->viewer->images().item(1).labels(); }

    // An image file in Original, named after its UID unless fileName says
    // otherwise, and its row as the list loader makes it.
    QTreeWidgetItem* addImage(const QString& number, const QString& uid,
                              const QString& spacing = {}, const QString& fileName = {}) {
        const QString path =
            folder(u"/Original/"_s) + (fileName.isEmpty() ? uid + ".dcm" : fileName);
        fixtures::writeDicom(path, dicom(number, uid, spacing, 100, 300));
        auto* row = new QTreeWidgetItem(w->list, {number, u"-"_s});
        ListView::setTag(row, path);
        return row;
    }
    void writeMeasuredCopy(const QString& number, int width = 20) {
        ws->mkpath(kFolder + "/Gemessen");
        fixtures::writeDicom(folder("/Gemessen/" + number + ".dcm"),
                             dicom(number, {}, {}, width, 20));
    }
    void select(QTreeWidgetItem* row) {
        w->list->clearSelection();
        row->setSelected(true);
    }
    void leftClick(QTreeWidgetItem* row) {
        select(row);
        viewer::lvwList_MouseUp(c(), 1);
    }
    // Every image that went in is still in Original or in Papierkorb.
    int imagesKept() const {
        return int(ws->fileNames(kFolder + "/Original").size() +
                   ws->fileNames(kFolder + "/Papierkorb").size());
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init() {
        ws = std::make_unique<TestWorkspace>();
        ws->mkpath(kFolder + "/Original");
        w = std::make_unique<Window>();
        w->folder = ws->path(kFolder);
    }
    void cleanup() {
        w.reset();
        ws.reset();
    }

    void measureSaveAndShowTheCopy() {
        MessageRecorder messages;
        QTreeWidgetItem* row17 = addImage("17", "1.2.3.17", "0.2\\0.2");
        addImage("5", "1.2.3.5");
        leftClick(row17);
        QCOMPARE(w->form.windowTitle(), u"Kalvara | 17  (0.2)"_s);
        QCOMPARE(w->viewer->tag(), u"ORIGINAL"_s);
        QVERIFY(w->commandsEnabled());
        QCOMPARE(w->cmdCloseStudy->property("Tag").toString(), u"20261205"_s);

        // The pick takes any button and draws nothing.
        viewer::picStartLine_DblClick(c());
        QCOMPARE(w->form.cursor().shape(), Qt::CrossCursor);
        viewer::dvIMG_MouseEvent(c(), 2, 0, 10, 100);
        QCOMPARE(w->form.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(modINI::ReadIniValue("GENERAL", "StartLine", "", modINI::settingsFile(), 256),
                 u"100"_s);
        QCOMPARE(modGlobal::startLine(), u"100"_s);
        QCOMPARE(labels().count(), 0);

        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, 250);
        QCOMPARE(labels().count(), 2);
        const imaging::Label& line = labels().item(1);
        QCOMPARE(line.kind, int(imaging::Label::Line));
        QCOMPARE(QList<int>({line.left, line.top, line.height}), QList<int>({40, 100, 150}));
        QCOMPARE(line.colour, 255u);
        const imaging::Label& text = labels().item(2);
        QCOMPARE(text.kind, int(imaging::Label::Text));
        QCOMPARE(text.text, u"30 mm"_s);
        QCOMPARE(QList<int>({text.left, text.top, text.size}), QList<int>({40, 250, 12}));
        QCOMPARE(text.colour, 255u);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"30"_s);

        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, 160);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"12"_s);
        viewer::dvIMG_MouseEvent(c(), 2, 0, 0, 0);
        QCOMPARE(labels().count(), 2);
        QCOMPARE(labels().item(2).text, u"30 mm"_s);
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());

        viewer::cmdSave_Click(c());
        QVERIFY(QFile::exists(folder("/Gemessen/17.dcm")));
        QCOMPARE(row17->text(1), u"X"_s);

        viewer::lvwList_MouseUp(c(), 2);
        QVERIFY(w->commandsDisabled());
        QCOMPARE(w->viewer->tag(), QString());
        const QImage copy = w->viewer->images().item(1).displayImage();
        for (int y = 110; y <= 240; y += 10) {
            bool red = false;
            for (int x = 37; x <= 43; ++x)
                red = red || isRed(copy.pixel(x, y));
            QVERIFY2(red, qPrintable(QString("no red line at y %1").arg(y)));
        }
        // No measuring on the copy.
        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, 200);
        QCOMPARE(labels().count(), 0);
        QCOMPARE(messages.count(), 0);
    }

    void measurementText_data() {
        QTest::addColumn<double>("length");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        const QLocale de(QLocale::German, QLocale::Germany);
        QTest::newRow("whole") << 30.0 << "mm" << de << "30 mm";
        QTest::newRow("half to even down") << 12.25 << "mm" << de << "12,2 mm";
        QTest::newRow("half to even up") << 0.75 << "mm" << de << "0,8 mm";
        QTest::newRow("single precision above half") << 12.35 << "mm" << de << "12,4 mm";
        QTest::newRow("rounds to whole") << 29.96 << "mm" << de << "30 mm";
        QTest::newRow("no group separator") << 1234.56 << "px" << de << "1234,6 px";
        QTest::newRow("C locale") << 12.25 << "mm" << QLocale::c() << "12.2 mm";
    }
    void measurementText() {
        QFETCH(double, length);
        QFETCH(QString, unit);
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QCOMPARE(viewer::measurementText(length, unit, locale), text);
    }

    void startLineWithoutImageAndUnusableStartLine() {
        MessageRecorder messages;
        QGuiApplication::clipboard()->setText("vorher");
        viewer::picStartLine_DblClick(c());
        viewer::dvIMG_MouseEvent(c(), 1, 0, 5, -77);
        QCOMPARE(modINI::ReadIniValue("GENERAL", "StartLine", "", modINI::settingsFile(), 256),
                 u"-77"_s);

        leftClick(addImage("17", "1.2.3.17", "0.2\\0.2"));
        modGlobal::setStartLine("abc");
        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, 250);
        modGlobal::setStartLine("2147483647"); // the height overflows 32 bits
        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, -5);
        QCOMPARE(labels().count(), 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"vorher"_s);
        QCOMPARE(messages.count(), 2);
        QCOMPARE(messages.messages().first().icon, Icon::Warning);
        QVERIFY(messages.messages().first().text.contains("abc"));
    }

    void commandsOnlyForTheShownUnmeasuredImage() {
        MessageRecorder messages;
        QTreeWidgetItem* row17 = addImage("17", "1.2.3.17");
        QTreeWidgetItem* row5 = addImage("5", "1.2.3.5");
        leftClick(row17);
        viewer::disableImageCommands(c());
        QVERIFY(w->commandsDisabled());
        QCOMPARE(w->viewer->tag(), QString());
        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, 250);
        QCOMPARE(labels().count(), 0);

        // Missing unmeasured file: reported, and 17 still shown is not row 5's.
        leftClick(row17);
        QVERIFY(QFile::remove(ListView::tag(row5)));
        leftClick(row5);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().icon, Icon::Information);
        QVERIFY(messages.last().text.contains(QDir::toNativeSeparators(ListView::tag(row5))));
        QVERIFY(w->commandsDisabled());
        QCOMPARE(w->viewer->tag(), QString());

        // No measured copy: the viewer is emptied.
        leftClick(row17);
        select(row17);
        viewer::lvwList_MouseUp(c(), 4);
        QCOMPARE(w->viewer->images().count(), 0);
        QVERIFY(w->commandsDisabled());
    }

    void failedSaveKeepsThePreviousCopy() {
        MessageRecorder messages;
        QTreeWidgetItem* row = addImage("17", "1.2.3.17", "0.2\\0.2");
        leftClick(row);
        writeMeasuredCopy("17");
        const QByteArray before = contents(folder("/Gemessen/17.dcm"));
        viewer::dvIMG_MouseEvent(c(), 1, 0, 40, 250);

        // A file-size limit fails the new copy's write even for root.
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(before.size() + 1024);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        viewer::cmdSave_Click(c());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QCOMPARE(contents(folder("/Gemessen/17.dcm")), before);
        QCOMPARE(QDir(folder("/Gemessen")).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().icon, Icon::Critical);
        QVERIFY(messages.last().text.contains("Das Speichern des Bildes"));
        QCOMPARE(row->text(1), u"-"_s);
    }

    void saveMarksOnlyTheShownRowAndWritesOnlyIntoGemessen() {
        MessageRecorder messages;
        QTreeWidgetItem* row17 = addImage("17", "1.2.3.17");
        QTreeWidgetItem* row5 = addImage("5", "1.2.3.5");
        leftClick(row17);
        w->list->clearSelection();
        viewer::cmdSave_Click(c());
        select(row5); // moved without a click: 17 is still shown
        viewer::cmdSave_Click(c());
        QCOMPARE(QStringList({row17->text(1), row5->text(1)}), QStringList({"-", "-"}));
        QCOMPARE(ws->fileNames(kFolder + "/Gemessen"), QStringList{"17.dcm"});
        QCOMPARE(messages.count(), 0);

        leftClick(addImage("../Original/x", "1.2.3.9"));
        viewer::cmdSave_Click(c());
        QCOMPARE(messages.last().icon, Icon::Critical);
        QVERIFY(!QFile::exists(folder("/Original/x.dcm")));
    }

    void renumber() {
        MessageRecorder messages;
        QTreeWidgetItem* row = addImage("17", "1.2.3.17");
        addImage("5", "1.2.3.5");
        writeMeasuredCopy("17");
        leftClick(row);
        w->chkEdit->setChecked(true);
        viewer::chkEdit_Click(c());
        QVERIFY(w->txtEdit->isEnabled() && w->cmdEdit->isEnabled());
        w->txtEdit->setText("23");
        viewer::cmdEdit_Click(c());

        const QString file = ListView::tag(row);
        const imaging::Image image = readImage(file);
        QCOMPARE(image.imageNumber(), u"23"_s);
        QCOMPARE(image.patientName(), u"23^23"_s);
        QCOMPARE(file, folder("/Original/") + image.imageUid() + ".dcm");
        QCOMPARE(ws->fileNames(kFolder + "/Original").size(), 2);
        QVERIFY(!QFile::exists(folder("/Original/1.2.3.17.dcm")));
        QCOMPARE(QStringList({row->text(0), row->text(1)}), QStringList({"23", "-"}));
        QCOMPARE(w->viewer->images().item(1).imageUid(), image.imageUid());
        QVERIFY(!w->chkEdit->isChecked() && !w->txtEdit->isEnabled() && !w->cmdEdit->isEnabled());
        QVERIFY(QFile::exists(folder("/Gemessen/17.dcm")));

        // An empty number is taken as typed.
        w->txtEdit->setText(QString());
        viewer::cmdEdit_Click(c());
        QCOMPARE(readImage(ListView::tag(row)).patientName(), u"^"_s);
        QCOMPARE(row->text(0), QString());
        QCOMPARE(imagesKept(), 2);
        QCOMPARE(messages.count(), 0);
    }

    void renumberTakesTheRowsFileNotTheShownCopy() {
        QTreeWidgetItem* row = addImage("17", "1.2.3.17");
        writeMeasuredCopy("17", 20);
        select(row);
        viewer::lvwList_MouseUp(c(), 2);
        QCOMPARE(w->viewer->images().item(1).width(), 20);
        w->txtEdit->setText("23");
        viewer::cmdEdit_Click(c());
        QCOMPARE(readImage(ListView::tag(row)).width(), 100);
        QCOMPARE(ws->fileNames(kFolder + "/Original").size(), 1);
        QCOMPARE(readImage(folder("/Gemessen/17.dcm")).width(), 20);

        // Without a selected row nothing is renumbered.
        w->list->clearSelection();
        const QStringList before = ws->fileNames(kFolder + "/Original");
        viewer::cmdEdit_Click(c());
        QCOMPARE(ws->fileNames(kFolder + "/Original"), before);
        QCOMPARE(imagesKept(), 1);
    }

    void deleteAfterConfirmation() {
        MessageRecorder messages(Answer::No);
        QTreeWidgetItem* row = addImage("17", "1.2.3.17");
        addImage("5", "1.2.3.5");
        writeMeasuredCopy("17");
        leftClick(row);
        viewer::cmdDelete_Click(c());
        QCOMPARE(messages.count(), 1);
        const modGlobal::Message question = messages.last();
        QCOMPARE(question.text,
                 u"Wollen Sie das Bild mit der Nummer \r\n\r\n17\r\n\r\nwirklich löschen?"_s);
        QVERIFY(question.buttons == modGlobal::Buttons::YesNo &&
                question.defaultButton == Answer::Yes && question.icon == Icon::Question &&
                question.title == u"Kalvara"_s);
        QCOMPARE(w->list->topLevelItemCount(), 2);
        QVERIFY(QFile::exists(folder("/Original/1.2.3.17.dcm")));
        QVERIFY(w->commandsEnabled());

        messages.setAnswer(Answer::Yes);
        w->chkEdit->setChecked(true);
        viewer::chkEdit_Click(c());
        viewer::cmdDelete_Click(c());
        QCOMPARE(ws->fileNames(kFolder + "/Original"), QStringList{"1.2.3.5.dcm"});
        QCOMPARE(ws->fileNames(kFolder + "/Papierkorb"), QStringList{"1.2.3.17.dcm"});
        QVERIFY(!QFile::exists(folder("/Gemessen/17.dcm")));
        QCOMPARE(w->list->topLevelItemCount(), 1);
        QCOMPARE(w->list->topLevelItem(0)->text(0), u"5"_s);
        QCOMPARE(w->viewer->images().count(), 0);
        QCOMPARE(w->form.windowTitle(), u"Kalvara"_s);
        QVERIFY(w->commandsDisabled());
        QCOMPARE(imagesKept(), 2);
    }

    void deletedFilesReachPapierkorbUnderTheirUid() {
        MessageRecorder messages(Answer::Yes);
        leftClick(addImage("17", "1.2.3.17"));
        viewer::cmdDelete_Click(c());
        QTreeWidgetItem* again = addImage("17", "1.2.3.17", "0.3\\0.3");
        const QByteArray second = contents(ListView::tag(again));
        leftClick(again);
        viewer::cmdDelete_Click(c());
        QCOMPARE(contents(folder("/Papierkorb/1.2.3.17.dcm")), second);

        leftClick(addImage("8", "1.2.3.8", {}, "IMG0001"));
        viewer::cmdDelete_Click(c());
        QCOMPARE(ws->fileNames(kFolder + "/Original"), QStringList());
        QCOMPARE(ws->fileNames(kFolder + "/Papierkorb"),
                 QStringList({"1.2.3.17.dcm", "1.2.3.8.dcm"}));
        QCOMPARE(messages.count(), 3);
    }

    void deleteThatCannotFinishChangesNothing() {
        MessageRecorder messages(Answer::Yes);
        QTreeWidgetItem* row = addImage("17", "1.2.3.17");
        writeMeasuredCopy("17");
        leftClick(row);
        w->list->clearSelection();
        viewer::cmdDelete_Click(c());
        QCOMPARE(messages.last().icon, Icon::Information);

        ws->mkpath(kFolder + "/Papierkorb/1.2.3.17.dcm"); // a folder in the file's place
        leftClick(row);
        viewer::cmdDelete_Click(c());
        QCOMPARE(messages.last().icon, Icon::Critical);
        QCOMPARE(ws->fileNames(kFolder + "/Original"), QStringList{"1.2.3.17.dcm"});
        QVERIFY(QFile::exists(folder("/Gemessen/17.dcm")));
        QCOMPARE(w->list->topLevelItemCount(), 1);
        QCOMPARE(w->viewer->images().count(), 1);
    }
};

QTEST_MAIN(tst_Viewer)
#include "tst_viewer.moc"
