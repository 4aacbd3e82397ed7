#include "DicomFixtures.h"
#include "TestSupport.h"
#include "imagelist/ImageList.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QtTest>

using imagelist::ListView;

namespace {

// Each row as "number|measured|file name of its tag".
QStringList rowsOf(const ListView& list) {
    QStringList rows;
    for (int i = 0; const QTreeWidgetItem* row = list.topLevelItem(i); ++i)
        rows << row->text(0) + '|' + row->text(1) + '|' + ListView::tag(row).section('/', -1);
    return rows;
}

// Rows tagged with their own texts, so texts and tags can be seen to stay together.
void fill(ListView& list, const QStringList& texts) {
    for (const QString& text : texts)
        ListView::setTag(new QTreeWidgetItem(&list, {text}), text);
}

// Writes the file holding the image number; no number: an empty file.
void writeImage(const QString& path, const QString& number) {
    QDir().mkpath(QFileInfo(path).path());
    if (number.isEmpty())
        writeFile(path);
    else
        fixtures::writeDicom(path, {.patientId = number});
}

// The part of the main window that a load works on.
struct ListWindow {
    QWidget window;
    ListView* list = new ListView(&window);
    QProgressBar* bar = new QProgressBar(&window);
    session::Session session;
    bool listShown() const { return !list->isHidden() && bar->isHidden(); }
    bool load(const QString& folder) {
        session.currentFolder = folder;
        return imagelist::LoadImageList(session, {.lvwList = list, .prgBar = bar});
    }
};

} // namespace

class TestImageList : public QObject {
    Q_OBJECT
    TestWorkspace m_workspace;
    QString folder(const QString& name) const { return m_workspace.path("/Messungen/" + name); }

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void sortOrdersNumbersByValueAndAlternates_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("numbers and a word") << QStringList{"10", "9", "Kuh", "100", "2,5"}
                                            << QStringList{"2,5", "9", "10", "100", "Kuh"};
        QStringList many, ascending;
        for (int i = 0; i < 40000; ++i) {
            many << QString::number(i * 7919 % 40000 + 1); // 1 to 40000, shuffled
            ascending << QString::number(i + 1);
        }
        QTest::newRow("more than 32767 rows") << many << ascending;
    }

    // Descending and ascending in turn.
    void sortOrdersNumbersByValueAndAlternates() {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, ascending);
        ListView list, sorted;
        fill(list, texts);
        fill(sorted, ascending);
        const QStringList expected = rowsOf(sorted);
        imagelist::SortListViewColumn(0, &list);
        QCOMPARE(list.sortOrder(), 1);
        QCOMPARE(rowsOf(list), QStringList(expected.rbegin(), expected.rend()));
        imagelist::SortListViewColumn(0, &list);
        QCOMPARE(list.sortOrder(), 0);
        QCOMPARE(rowsOf(list), expected);
    }

    // Equal keys keep the order the rows came in: "007" and "7" are one value, and so are
    // two 20-digit numbers that share their nearest double. Negative numbers come first,
    // smallest magnitude first; words after all numbers.
    void sortOrdersEqualKeysStably() {
        ListView list;
        fill(list, {"12345678901234567891", "10", "007", "Kuh", "-3", "2,5", "7",
                    "12345678901234567890", "-10", "Bulle", "0,5"});
        const QStringList ascending{"-3",
                                    "-10",
                                    "0,5",
                                    "2,5",
                                    "007",
                                    "7",
                                    "10",
                                    "12345678901234567891",
                                    "12345678901234567890",
                                    "Bulle",
                                    "Kuh"};
        const auto tags = [&] {
            QStringList texts;
            for (int i = 0; i < list.topLevelItemCount(); ++i)
                texts << ListView::tag(list.topLevelItem(i));
            return texts;
        };
        imagelist::SortListViewColumn(0, &list);
        QCOMPARE(tags(),
                 (QStringList{"Kuh", "Bulle", "12345678901234567891", "12345678901234567890", "10",
                              "007", "7", "2,5", "0,5", "-10", "-3"}));
        imagelist::SortListViewColumn(0, &list);
        QCOMPARE(tags(), ascending);
    }

    void sortKeyOfDigitsIsPaddedValue() {
        const QLocale german(QLocale::German, QLocale::Germany);
        const QString key = QString(28, '0') + "42," + QString(30, '0');
        QCOMPARE(imagelist::sortKeyFor("42", german), key);
        QCOMPARE(imagelist::sortKeyFor("00042", german), key);
        QCOMPARE(imagelist::sortKeyFor("0", german), QString(30, '0') + ',' + QString(30, '0'));
    }

    void loadListsTheNumberInsideEachFile_data() {
        QTest::addColumn<QStringList>("files"); // in Original, name:number
        QTest::addColumn<QStringList>("rows");  // the list is descending before the load
        QTest::addColumn<int>("maximum");       // of the bar, which five images set before
        QTest::addColumn<QString>("named");     // in the one message; empty: none
        QTest::newRow("numbers") << QStringList{"17.dcm:23", "9.dcm:5", "a.dcm:7"}
                                 << QStringList{"23|X|17.dcm", "7|-|a.dcm", "5|-|9.dcm"} << 3 << "";
        QTest::newRow("unreadable file") << QStringList{"gut.dcm:12", "leer.dcm:"}
                                         << QStringList{"12|-|gut.dcm"} << 2 << "leer.dcm";
        QTest::newRow("no Original") << QStringList{} << QStringList{} << 5 << "„Original“";
    }

    // "X" when Gemessen holds a copy named after the number, whatever the file's name.
    void loadListsTheNumberInsideEachFile() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, rows);
        QFETCH(int, maximum);
        QFETCH(QString, named);
        MessageRecorder messages;
        const QString measured = folder(QTest::currentDataTag());
        if (!named.contains("Original"))
            QDir().mkpath(measured + "/Original");
        for (const QString& file : files)
            writeImage(measured + "/Original/" + file.section(':', 0, 0), file.section(':', 1));
        for (const QString copy : {"/Gemessen/23.dcm", "/Gemessen/9.dcm"})
            writeImage(measured + copy, {});
        ListWindow w;
        fill(*w.list, {"4"});
        w.list->setSortState(0, false, 1);
        w.bar->setMaximum(5);

        QVERIFY(w.load(measured));

        QCOMPARE(rowsOf(*w.list), rows);
        QCOMPARE(w.bar->maximum(), maximum);
        QVERIFY(w.listShown());
        QCOMPARE(messages.count(), int(!named.isEmpty()));
        QVERIFY(messages.messages().value(0).text.contains(named));
    }

    // The number is read from each file wherever it lies in it; equal numbers keep the
    // folder's name order, words follow the numbers.
    void loadOrdersRowsByNumber() {
        MessageRecorder messages;
        const QString original = folder("reihenfolge/Original/");
        writeImage(original + "a.dcm", "7");
        writeImage(original + "b.dcm", "Kuh");
        writeImage(original + "c.dcm", "007");
        fixtures::writeDicom(original + "d.dcm", {.patientId = "3", .privateBytes = 1 << 20});
        writeImage(original + "e.dcm", "12");
        writeImage(original + "f.dcm", "7");
        ListWindow w;

        QVERIFY(w.load(folder("reihenfolge")));

        QCOMPARE(rowsOf(*w.list), (QStringList{"3|-|d.dcm", "7|-|a.dcm", "007|-|c.dcm", "7|-|f.dcm",
                                               "12|-|e.dcm", "Kuh|-|b.dcm"}));
        QCOMPARE(w.bar->value(), 6);
        QCOMPARE(messages.count(), 0);
    }

    void loadLeavesTheStateOfTwoSorts_data() {
        QTest::addColumn<int>("order"); // the list's direction before the load
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("rowsAfterClick");
        const QStringList ascending{"7|-|a.dcm", "007|-|c.dcm", "7|-|e.dcm", "12|-|d.dcm",
                                    "Kuh|-|b.dcm"};
        // Descending keeps equal numbers in the folder's order too.
        const QStringList descending{"Kuh|-|b.dcm", "12|-|d.dcm", "7|-|a.dcm", "007|-|c.dcm",
                                     "7|-|e.dcm"};
        QTest::newRow("ascending") << 0 << ascending << descending;
        QTest::newRow("descending") << 1 << descending << ascending;
    }

    // The rows stand as sorting twice by number leaves them, and so does the list's state:
    // sorted by the first column in the direction it had. The next sort, as a click on the
    // column's header asks for, runs the other way.
    void loadLeavesTheStateOfTwoSorts() {
        QFETCH(int, order);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, rowsAfterClick);
        MessageRecorder messages;
        const QString measured = folder(QStringLiteral("zustand-%1").arg(order));
        const QStringList files{"a.dcm:7", "b.dcm:Kuh", "c.dcm:007", "d.dcm:12", "e.dcm:7"};
        for (const QString& file : files)
            writeImage(measured + "/Original/" + file.section(':', 0, 0), file.section(':', 1));
        ListWindow w;
        w.list->setSortState(1, false, order);

        QVERIFY(w.load(measured));

        QCOMPARE(rowsOf(*w.list), rows);
        QCOMPARE(w.list->sortKey(), 0);
        QCOMPARE(w.list->sorted(), true);
        QCOMPARE(w.list->sortOrder(), order);
        QCOMPARE(messages.count(), 0);

        imagelist::SortListViewColumn(0, w.list);
        QCOMPARE(w.list->sortOrder(), 1 - order);
        QCOMPARE(rowsOf(*w.list), rowsAfterClick);
    }

    // Three hundred foreign files: the real message stays within the screen, OK button included.
    void manyUnreadableFilesFitTheScreen() {
        const QString measured = folder("fremd");
        QDir().mkpath(measured + "/Original");
        for (int i = 0; i < 300; ++i)
            writeFile(measured + QStringLiteral("/Original/Aufnahme_2026-12-07_Kuh_%1_Serie_3.jpg")
                                     .arg(i, 4, 10, QLatin1Char('0')),
                      "kein DICOM");
        ListWindow w;
        w.window.show();
        QRect box, screen;
        // Files are read with events running; the box comes after the last one.
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (auto* message = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box = message->frameGeometry();
                screen = message->screen()->availableGeometry();
                message->done(0);
            }
        });
        watch.start(50);
        QVERIFY(w.load(measured));
        QVERIFY2(screen.contains(box), qPrintable(QStringLiteral("box %1 px high on a %2 px screen")
                                                      .arg(box.height())
                                                      .arg(screen.height())));
    }

    // A folder that cannot be listed is said to be so, not shown as empty.
    void unreadableOriginalIsReported() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs Linux capabilities to enforce permission bits as root.");
#else
        MessageRecorder messages;
        const QString original = folder("gesperrt/Original");
        writeImage(original + "/1.dcm", "1");
        QVERIFY(QFile::setPermissions(original, QFileDevice::WriteOwner));
        ListWindow w;
        {
            const PermissionBitsEnforced enforced;
            QVERIFY(w.load(folder("gesperrt")));
        }
        QFile::setPermissions(original, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(w.list->topLevelItemCount(), 0);
        QVERIFY(w.listShown());
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.last().text,
                 "Der Ordner „" + original +
                     "“ kann nicht gelesen werden. Es fehlt die Berechtigung für diesen Zugriff. "
                     "Die Bildliste bleibt leer.");
#endif
    }

    // What an interrupted write left beside the images is neither listed nor kept; other
    // hidden files are images like any other.
    void loadRemovesTemporaryFiles() {
        MessageRecorder messages;
        const QString measured = folder("temporaer");
        const QString temporary = "/.17.dcm.0123456789abcdef0123456789abcdef.tmp";
        writeImage(measured + "/Original/17.dcm", "17");
        writeImage(measured + "/Original" + temporary, "17"); // complete but not yet renamed
        writeImage(measured + "/Original/.versteckt.dcm", "18");
        writeImage(measured + "/Gemessen" + temporary, {}); // cut off
        ListWindow w;

        QVERIFY(w.load(measured));

        QCOMPARE(rowsOf(*w.list), (QStringList{"17|-|17.dcm", "18|-|.versteckt.dcm"}));
        QCOMPARE(messages.count(), 0);
        QVERIFY(!QFile::exists(measured + "/Original" + temporary));
        QVERIFY(!QFile::exists(measured + "/Gemessen" + temporary));
    }

    // The second load runs from the first one's event processing, as a second folder choice would.
    void loadStartedDuringALoadTakesOver() {
        MessageRecorder messages;
        for (const QString file : {"1.dcm", "2.dcm", "3.dcm"})
            writeImage(folder("erste/Original/") + file, "1");
        writeImage(folder("zweite/Original/a.dcm"), "40");
        writeImage(folder("zweite/Original/b.dcm"), "41");
        ListWindow w;
        QTimer::singleShot(0, [&] { QVERIFY(w.load(folder("zweite"))); });

        QVERIFY(!w.load(folder("erste")));

        QCOMPARE(rowsOf(*w.list), (QStringList{"40|-|a.dcm", "41|-|b.dcm"}));
        QCOMPARE(w.bar->value(), 2);
        QVERIFY(w.listShown());
        QCOMPARE(messages.count(), 0);
    }

    // After the reading, the rows of a long list are made with events run between slices of
    // them; a load started there takes over as well.
    void loadStartedWhileRowsAreMadeTakesOver() {
        MessageRecorder messages;
        constexpr int count = 5001; // more rows than one slice
        const QString original = folder("lang/Original/");
        writeImage(original + "0.dcm", "1");
        const QByteArray image = readFile(original + "0.dcm");
        for (int i = 1; i < count; ++i)
            writeFile(original + QString::number(i) + ".dcm", image);
        writeImage(folder("kurz/Original/a.dcm"), "40");
        ListWindow w;
        int started = 0;
        connect(w.bar, &QProgressBar::valueChanged, [&](int value) {
            if (value != count || started > 0)
                return;
            // A progress turn during the reading may already show the last file; set back,
            // the bar shows the count again once the reading is done.
            if (QThread::currentThread()->loopLevel() > 0) {
                w.bar->setValue(count - 1);
                return;
            }
            ++started;
            QTimer::singleShot(0, [&] { QVERIFY(w.load(folder("kurz"))); });
        });

        QVERIFY(!w.load(folder("lang")));

        QCOMPARE(started, 1);
        QCOMPARE(rowsOf(*w.list), QStringList{"40|-|a.dcm"});
        QVERIFY(w.listShown());
        QCOMPARE(messages.count(), 0);
    }
};

QTEST_MAIN(TestImageList)
#include "tst_imagelist.moc"
