// Edge cases and mended faults of the viewer commands; tests/e2e has the usual work.
#include "CsvReader.h"
#include "DicomFixtures.h"
#include "Interruption.h"
#include "TestSupport.h"
#include "core/AtomicFile.h"
#include "global/Durable.h"
#include "imagelist/ImageList.h"
#include "record/Record.h"
#include "viewer/Viewer.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <memory>
#include <stdexcept>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#endif

using fixtures::DicomSpec;
using imagelist::ListView;
#if defined(Q_OS_LINUX)
using interruption::KillAt;
#endif
using modGlobal::Icon;

class tst_Viewer : public QObject {
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<QWidget> form; // the main window, parent of the controls in c
    session::Session s;
    session::Controls c{};
    MessageRecorder messages;
    QTreeWidgetItem* row = nullptr; // image 17, shown, with a measured copy

    template <class Control> Control* make() { return new Control(form.get()); }
    QString folder(const QString& relative) const { return s.currentFolder + relative; }
    QStringList files(const QString& sub) const { return QDir(folder(sub)).entryList(QDir::Files); }
    imaging::LabelList& labels() { return c.dvIMG->images().item(1).labels(); }
    // Hidden files beside the images and in the workspace root, and the journal.
    QStringList leftovers() const {
        QStringList names;
        for (const QString& dir : {ws->root(), folder("/Original"), folder("/Gemessen")})
            names += QDir(dir).entryList({".*"}, QDir::Files | QDir::Hidden);
        if (QFile::exists(durable::journalFile()))
            names << durable::journalFile();
        return names;
    }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void init() {
        ws = std::make_unique<TestWorkspace>();
        s = {};
        s.currentFolder = ws->path("/Messungen/Messung");
        QVERIFY(QDir().mkpath(folder("/Original")));
        QVERIFY(QDir().mkpath(folder("/Gemessen")));
        form = std::make_unique<QWidget>();
        c = {.form = form.get(),
             .lvwList = make<ListView>(),
             .dvIMG = make<imaging::DicomViewer>(),
             .txtEdit = make<QLineEdit>(),
             .chkEdit = make<QCheckBox>(),
             .cmdEdit = make<QPushButton>(),
             .cmdDelete = make<QPushButton>(),
             .cmdSave = make<QPushButton>(),
             .cmdCloseStudy = make<QPushButton>()};
        messages.clear();
        const QString file = folder("/Original/IMG0017"); // a foreign name, not the UID's
        fixtures::writeDicom(file, DicomSpec{"17", "1.2.3.17", {}, {}, 100, 300});
        fixtures::writeDicom(folder("/Gemessen/17.dcm"), DicomSpec{"17", {}, {}, {}, 20, 20});
        row = new QTreeWidgetItem(c.lvwList, {"17", "-"});
        ListView::setTag(row, file);
        row->setSelected(true);
        viewer::lvwList_MouseUp(s, c, 1);
    }
    // No image is ever lost: it is still in Original or in Papierkorb.
    void cleanup() { QCOMPARE(files("/Original").size() + files("/Papierkorb").size(), 1); }

    void measurementText_data() {
        QTest::addColumn<double>("length");
        QTest::addColumn<QString>("text");
        QTest::newRow("half to even") << 12.25 << "12,2 mm";
        QTest::newRow("single precision above half") << 1.45 << "1,5 mm";
        QTest::newRow("no group separator") << 1234.56 << "1234,6 mm";
    }
    void measurementText() {
        QFETCH(double, length);
        QTEST(viewer::measurementText(length, "mm", QLocale()), "text");
    }

    void unusableStartLine_data() {
        QTest::addColumn<QString>("startLine");
        QTest::addColumn<int>("y");
        QTest::addColumn<QString>("cause");
        QTest::newRow("letters") << "abc" << 10 << "ganze Zahl";
        QTest::newRow("decimal") << "12,5" << 10 << "ganze Zahl";
        QTest::newRow("height above 32 bits") << "-2147483648" << 5 << "zu weit";
        QTest::newRow("row beyond 32 bits") << " 99999999999" << 10 << "zu weit";
    }
    void unusableStartLine() {
        QFETCH(QString, startLine);
        QFETCH(int, y);
        QFETCH(QString, cause);
        QGuiApplication::clipboard()->setText("vorher");
        modGlobal::setStartLine(startLine);
        viewer::dvIMG_MouseEvent(s, c, 1, 0, 40, y);
        QCOMPARE(labels().count(), 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), "vorher");
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().icon, Icon::Warning);
        QVERIFY2(messages.last().text.contains(cause), qPrintable(messages.last().text));
    }

    void startLineAndRightClickEdgeCases() {
        viewer::dvIMG_MouseEvent(s, c, 2, 0, 0, 0);
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
        labels().add(*viewer::measurementLine("0", 1, 2));
        QGuiApplication::clipboard()->setText("vorher");
        viewer::dvIMG_MouseEvent(s, c, 2, 0, 0, 0);
        QCOMPARE(labels().count(), 1);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());
        QCOMPARE(messages.count(), 0);

        viewer::picStartLine_DblClick(s, c); // the pick takes any button, in image rows
        viewer::dvIMG_MouseEvent(s, c, 2, 0, 5, 77);
        QCOMPARE(modGlobal::startLine(), "77");
        QCOMPARE(c.dvIMG->startLine(), 77);
        c.dvIMG->images().clear(); // without an image there are no rows to pick
        viewer::picStartLine_DblClick(s, c);
        viewer::dvIMG_MouseEvent(s, c, 1, 0, 5, 120);
        QCOMPARE(modGlobal::startLine(), "77");
        QCOMPARE(c.dvIMG->startLine(), 77);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().icon, Icon::Information);
        QCOMPARE(c.form->cursor().shape(), Qt::ArrowCursor);
    }

    // The shown image is 100 x 300 pixels: a point beside, above or below it
    // is measured from nowhere and is no start row.
    void pointsOutsideTheImage_data() {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("inside");
        QTest::newRow("last pixel") << QPoint(99, 299) << true;
        QTest::newRow("first pixel") << QPoint(0, 0) << true;
        QTest::newRow("right") << QPoint(100, 10) << false;
        QTest::newRow("left") << QPoint(-1, 10) << false;
        QTest::newRow("below") << QPoint(10, 300) << false;
        QTest::newRow("above") << QPoint(10, -1) << false;
    }
    void pointsOutsideTheImage() {
        QFETCH(QPoint, point);
        QFETCH(bool, inside);
        modGlobal::setStartLine("50");
        QGuiApplication::clipboard()->setText("vorher");
        viewer::dvIMG_MouseEvent(s, c, 1, 0, point.x(), point.y());
        QCOMPARE(labels().count(), inside ? 2 : 0);
        QCOMPARE(QGuiApplication::clipboard()->text() == "vorher", !inside);
        QCOMPARE(messages.count(), 0);

        viewer::picStartLine_DblClick(s, c);
        viewer::dvIMG_MouseEvent(s, c, 1, 0, point.x(), point.y());
        QCOMPARE(modGlobal::startLine(), inside ? QString::number(point.y()) : "50");
        QCOMPARE(c.form->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(messages.count(), inside ? 0 : 1);
        if (!inside)
            QVERIFY2(messages.last().text.contains("außerhalb des Bildes"),
                     qPrintable(messages.last().text));
    }

    void commandsOnlyForTheShownUnmeasuredImage() {
        c.chkEdit->setChecked(true);                         // renumbering on
        ListView::setTag(row, folder("/Original/gone.dcm")); // 17, still shown, is not its image
        viewer::lvwList_MouseUp(s, c, 1);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().icon, Icon::Information);
        QVERIFY(messages.last().text.contains(QDir::toNativeSeparators(ListView::tag(row))));
        QVERIFY(!c.cmdSave->isEnabled());
        QVERIFY(!c.cmdDelete->isEnabled());
        QVERIFY(!c.chkEdit->isEnabled());
        QVERIFY(!c.chkEdit->isChecked());
        QVERIFY(!c.cmdEdit->isEnabled());
        QCOMPARE(c.dvIMG->tag(), QString());
    }

    void save() {
#if !defined(Q_OS_UNIX)
        QSKIP("Needs POSIX file size limits.");
#else
        const QByteArray before = readFile(folder("/Gemessen/17.dcm"));
        {
            const FileSizeLimit limit(before.size() + 1024); // the new copy's write fails
            viewer::cmdSave_Click(s, c);
        }
        QCOMPARE(readFile(folder("/Gemessen/17.dcm")), before);
        QCOMPARE(messages.count(), 1);

        // The selection moved by keyboard: the row of the saved image is marked.
        auto* other = new QTreeWidgetItem(c.lvwList, {"20", "-"});
        ListView::setTag(other, folder("/Original/IMG0020"));
        row->setSelected(false);
        other->setSelected(true);
        viewer::cmdSave_Click(s, c);
        QCOMPARE_NE(readFile(folder("/Gemessen/17.dcm")), before);
        QCOMPARE(row->text(1), "X");
        QCOMPARE(other->text(1), "-");
        delete other;

        row->setSelected(true);
        c.txtEdit->setText("../Original/x"); // free text, not a way out of Gemessen
        viewer::cmdEdit_Click(s, c);
        viewer::cmdSave_Click(s, c);
        QCOMPARE(messages.count(), 2);
        QVERIFY(!QFile::exists(folder("/Original/x.dcm")));
#endif
    }

    // The copy holds the displayed pixels as 8-bit RGB: no element of the
    // source's grey-value coding stays to recode them in another viewer.
    void copyIsPlainRgbWithItsValues() {
        imaging::Image& shown = c.dvIMG->images().item(1);
        const QList<std::pair<quint16, quint16>> coding = {
            {0x0028, 0x1050}, // Window Center
            {0x0028, 0x1051}, // Window Width
            {0x0028, 0x1055}, // Window Center & Width Explanation
            {0x0028, 0x1056}, // VOI LUT Function
            {0x0028, 0x1052}, // Rescale Intercept
            {0x0028, 0x1053}, // Rescale Slope
            {0x0028, 0x1054}, // Rescale Type
            {0x0028, 0x1199}, // Palette Color Lookup Table UID
            {0x2050, 0x0020}, // Presentation LUT Shape
        };
        const QStringList values = {"128", "256", "Weich", "LINEAR",  "0",
                                    "1",   "US",  "1.2.3", "IDENTITY"};
        for (qsizetype i = 0; i < coding.size(); ++i)
            shown.addAttribute(coding[i].first, coding[i].second, values[i]);
        modGlobal::setStartLine("100");
        viewer::dvIMG_MouseEvent(s, c, 1, 0, 10, 130);
        viewer::dvIMG_MouseEvent(s, c, 1, 0, 20, 88);
        viewer::cmdSave_Click(s, c);
        QCOMPARE(messages.count(), 0);

        const imaging::Image copy = imaging::readHeader(folder("/Gemessen/17.dcm"));
        QCOMPARE(copy.attribute(0x0020, 0x4000).value(),
                 "Messwerte ab Startlinie 100: 30 px; 12 px");
        QCOMPARE(copy.attribute(0x0028, 0x0002).value(), "3");   // Samples per Pixel
        QCOMPARE(copy.attribute(0x0028, 0x0004).value(), "RGB"); // Photometric Interpretation
        QCOMPARE(copy.attribute(0x0028, 0x0006).value(), "0");   // Planar Configuration
        QCOMPARE(copy.attribute(0x0028, 0x0100).value(), "8");   // Bits Allocated
        QCOMPARE(copy.attribute(0x0028, 0x0101).value(), "8");   // Bits Stored
        QCOMPARE(copy.attribute(0x0028, 0x0102).value(), "7");   // High Bit
        QCOMPARE(copy.attribute(0x0028, 0x0103).value(), "0");   // Pixel Representation
        for (const auto& [group, element] : coding)
            QVERIFY2(copy.attribute(group, element).isNull(),
                     qPrintable(QString::number(group << 16 | element, 16)));
    }

    // A measured copy is named by its image number: one path component only.
    void plainFileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("number") << "4711" << true;
        QTest::newRow("text and blanks") << "Kuh Ä 7" << true;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("drive colon") << "C:x" << false;
        QTest::newRow("colon") << "17:1" << false;
        QTest::newRow("tab") << "17\t" << false;
        QTest::newRow("question mark") << "17?" << false;
        QTest::newRow("star") << "1*" << false;
        QTest::newRow("angle bracket") << "<17>" << false;
        QTest::newRow("quote") << "\"17\"" << false;
        QTest::newRow("pipe") << "17|18" << false;
        QTest::newRow("trailing dot") << "17." << false;
        QTest::newRow("trailing blank") << "17 " << false;
        QTest::newRow("device") << "con" << false;
        QTest::newRow("device with extension") << "COM1.alt" << false;
        QTest::newRow("device name inside") << "CONTRA" << true;
        QTest::newRow("inner dot") << "17.2" << true;
    }
    void plainFileNames() {
        QFETCH(QString, name);
        QTEST(viewer::isPlainFileName(name), "plain");
    }

    // A record that cannot be changed does not undo the command's file work: a warning says
    // what was done all the same, once.
    void recordFailureWarns_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("lead");
        const auto add = [](const char* command, const char* lead) {
            QTest::newRow(command) << QString::fromUtf8(command) << QString::fromUtf8(lead);
        };
        add("save", "Die gemessene Kopie ist gespeichert, ihre Messwerte fehlen aber in der "
                    "Messwerttabelle.");
        add("renumber", "Die Bildnummer ist geändert, in der Messwerttabelle steht das Bild aber "
                        "noch unter der alten Nummer.");
        add("delete", "Das Bild ist gelöscht, seine Messwerte stehen aber noch in der "
                      "Messwerttabelle.");
    }
    void recordFailureWarns() {
        QFETCH(QString, command);
        QFETCH(QString, lead);
        writeFile(record::recordFile(s.currentFolder), "Kuh;Wert\r\n"); // no "Bild-UID" column
        messages.setAnswer(modGlobal::Answer::Yes);
        c.txtEdit->setText("23");
        if (command == "save")
            viewer::cmdSave_Click(s, c);
        else if (command == "renumber")
            viewer::cmdEdit_Click(s, c);
        else
            viewer::cmdDelete_Click(s, c);
        QCOMPARE(files("/Original") == QStringList{"IMG0017"}, command == "save");
        QCOMPARE(messages.last().icon, Icon::Warning);
        QCOMPARE(messages.last().text.section("\n\n", 0, 0), lead);
        QCOMPARE(messages.count(), command == "delete" ? 2 : 1); // the question first
    }

    void renumber_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("refused");
        QTest::newRow("empty number") << 1 << "" << false;
        QTest::newRow("measured copy shown") << 2 << "23" << true;
        QTest::newRow("selection moved by keyboard") << 0 << "23" << true;
    }
    void renumber() {
        QFETCH(int, button);
        QFETCH(QString, number);
        QFETCH(bool, refused);
        row->setText(1, "X");
        if (button != 0)
            viewer::lvwList_MouseUp(s, c, button);
        c.txtEdit->setText(number);
        auto* other = new QTreeWidgetItem(c.lvwList, {"20", "-"});
        ListView::setTag(other, folder("/Original/IMG0020"));
        row->setSelected(button != 0);
        other->setSelected(button == 0); // 17 is still shown
        viewer::cmdEdit_Click(s, c);
        delete other;
        if (refused) {
            QCOMPARE(messages.count(), 1);
            QCOMPARE(files("/Original"), QStringList{"IMG0017"});
            QCOMPARE(row->text(0), "17");
            return;
        }

        const imaging::Image& image = c.dvIMG->images().item(1); // the new file, shown
        QCOMPARE(image.patientName(), number + '^' + number);
        QCOMPARE(image.width(), 100); // not the 20-pixel copy
        QCOMPARE_NE(image.imageUid(), "1.2.3.17");
        const QString file = image.imageUid() + ".dcm";
        QCOMPARE(files("/Original"), QStringList{file});
        QVERIFY(ListView::tag(row).endsWith(file));
        QCOMPARE(QStringList({row->text(0), row->text(1), image.imageNumber()}),
                 QStringList({number, "-", number}));
        QCOMPARE(files("/Gemessen"), QStringList{"17.dcm"});
        QCOMPARE(messages.count(), 0);
    }

    void renumberRefusesWhatCannotBeAPatientId_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("refused");
        QTest::newRow("backslash") << "17\\1" << true;
        QTest::newRow("65 characters") << QString(65, '7') << true;
        QTest::newRow("line break") << "17\n" << true;
        QTest::newRow("C1 control character") << "17\u0085" << true;
        QTest::newRow("64 characters") << QString(64, '7') << false;
    }
    void renumberRefusesWhatCannotBeAPatientId() {
        QFETCH(QString, number);
        QFETCH(bool, refused);
        c.txtEdit->setText(number);
        viewer::cmdEdit_Click(s, c);
        QCOMPARE(row->text(0), refused ? "17" : number);
        QCOMPARE(files("/Original") == QStringList{"IMG0017"}, refused);
        QCOMPARE(messages.count(), int(refused));
        if (refused) // the message says what a number may hold
            QVERIFY2(messages.last().text.contains("64 Zeichen"), qPrintable(messages.last().text));
    }

    // Killed at any step, a renumbering leaves image 17 exactly once, its record row under the
    // image's number and UID, and no temporary file or journal, after the next start.
    void interruptedRenumbering_data() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs a forked child killed at an interposed file call (Linux).");
#else
        QTest::addColumn<KillAt>("at");
        QTest::addColumn<QString>("part"); // of the path at which the child is killed
        QTest::addColumn<QString>("number");
        const auto add = [](const char* name, KillAt at, const char* part, const char* number) {
            QTest::newRow(name) << at << QString::fromLatin1(part) << QString::fromLatin1(number);
        };
        add("writing the journal", KillAt::Rename, "Vorgang.json", "17");
        add("writing the new file", KillAt::Rename, "/Original/.", "17");
        add("deleting the old file", KillAt::Remove, "IMG0017", "23");
        add("updating the record", KillAt::Rename, "Messwerte.csv", "23");
        add("removing the journal", KillAt::Remove, "Vorgang.json", "23");
#endif
    }
    void interruptedRenumbering() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs a forked child killed at an interposed file call (Linux).");
#else
        QFETCH(KillAt, at);
        QFETCH(QString, part);
        QFETCH(QString, number);
        record::saveEntries(
            s.currentFolder,
            {{"17", "1.2.3.17", "05.12.2026", "05.12.2026 10:00:00", {{"30", "mm", "100"}}}});
        c.txtEdit->setText("23");
        QCOMPARE(interruption::runInChild([&] { viewer::cmdEdit_Click(s, c); }, at, part),
                 "killed");

        viewer::completeInterruptedWork(form.get());
        ListView list;
        QProgressBar bar;
        session::Session loaded;
        loaded.currentFolder = s.currentFolder;
        QVERIFY(imagelist::LoadImageList(loaded, {.lvwList = &list, .prgBar = &bar}));
        QCOMPARE(list.topLevelItemCount(), 1);
        QCOMPARE(list.topLevelItem(0)->text(0), number);
        const QList<QStringList> rows = csvRows(record::recordFile(s.currentFolder));
        QCOMPARE(rows.size(), 2); // the header and the image's row
        QCOMPARE(rows[1].value(0), number);
        imaging::ImageCollection image;
        image.readFile(ListView::tag(list.topLevelItem(0)));
        QCOMPARE(rows[1].value(1), image.item(1).imageUid());
        QCOMPARE(leftovers(), QStringList());
        QCOMPARE(messages.count(), 0);
#endif
    }

    // A journal cut short (renamed into place whole, only a damaged disk or a hand can cut it)
    // is dropped without acting on it.
    void cutJournalIsDropped() {
        const QString copy = folder("/Original/copy.dcm");
        QVERIFY(QFile::copy(ListView::tag(row), copy));
        const QByteArray whole = QStringLiteral(R"({"new":"%1","old":"%2","force":true})")
                                     .arg(copy, ListView::tag(row))
                                     .toUtf8();
        writeFile(durable::journalFile(), whole.left(whole.size() - 1));

        viewer::completeInterruptedWork(form.get());
        QCOMPARE(files("/Original"), (QStringList{"copy.dcm", "IMG0017"}));
        QCOMPARE(leftovers(), QStringList());
        QVERIFY(QFile::remove(copy)); // the one image cleanup expects
    }

    // A save killed before its copy replaced the old one leaves the old copy;
    // the next save removes the temporary file left beside it.
    void interruptedSave() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs a forked child killed at an interposed file call (Linux).");
#else
        const QByteArray before = readFile(folder("/Gemessen/17.dcm"));
        QCOMPARE(interruption::runInChild([&] { viewer::cmdSave_Click(s, c); }, KillAt::Rename,
                                          "/Gemessen/."),
                 "killed");
        QCOMPARE(readFile(folder("/Gemessen/17.dcm")), before);
        viewer::cmdSave_Click(s, c);
        QCOMPARE(leftovers(), QStringList());
        QCOMPARE(files("/Gemessen"), QStringList{"17.dcm"});
#endif
    }

    // Beyond the file-size limit the write fails and is reported; the process lives on.
    void saveBeyondTheFileSizeLimit() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs a forked child killed at an interposed file call (Linux).");
#else
        const auto save = [&] {
            std::signal(SIGXFSZ, SIG_DFL);
            core::ignoreFileSizeSignal();
            const rlimit limit{1024, RLIM_INFINITY};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                throw std::runtime_error("no limit");
            viewer::cmdSave_Click(s, c);
            if (messages.count() != 1 || messages.last().icon != Icon::Critical)
                throw std::runtime_error("not reported");
        };
        QCOMPARE(interruption::runInChild(save), "exit 0");
#endif
    }

    void deletion_data() {
        QTest::addColumn<Icon>("icon"); // of the last message
        QTest::newRow("older file of the UID in Papierkorb") << Icon::Question;
        QTest::newRow("No") << Icon::Question;
        QTest::newRow("no row selected") << Icon::Information;
        QTest::newRow("folder in the way") << Icon::Critical;
    }
    void deletion() {
        QFETCH(Icon, icon);
        const QString situation = QTest::currentDataTag();
        const bool deleted = icon == Icon::Question && situation != "No";
        messages.setAnswer(situation == "No" ? modGlobal::Answer::No : modGlobal::Answer::Yes);
        const QByteArray image = readFile(ListView::tag(row));
        const QString recycled = folder("/Papierkorb/1.2.3.17.dcm");
        QDir().mkpath(situation == "folder in the way" ? recycled : folder("/Papierkorb"));
        if (situation.startsWith("older file"))
            fixtures::writeDicom(recycled, DicomSpec{"18", "1.2.3.17", {}, {}, 1, 1});
        row->setSelected(situation != "no row selected");
        viewer::cmdDelete_Click(s, c);

        QCOMPARE(messages.last().icon, icon);
        QCOMPARE(readFile(recycled) == image, deleted);
        QCOMPARE(files("/Original").size() + files("/Gemessen").size(), deleted ? 0 : 2);
        QCOMPARE(c.lvwList->topLevelItemCount() + c.dvIMG->images().count(), deleted ? 0 : 2);
    }
};

QTEST_MAIN(tst_Viewer)
#include "tst_viewer.moc"
