#include "DicomFixtures.h"
#include "ImageList.h"
#include "ListView.h"
#include "TestSupport.h"
#include "modGlobal.h"

#include <QFile>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

using imagelist::ListView;

namespace {

using Rows = QList<QPair<QString, QString>>; // text and tag of each row, in order

Rows rowsOf(const ListView& list) {
    Rows rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        rows.append({list.topLevelItem(i)->text(0), ListView::tag(list.topLevelItem(i))});
    return rows;
}

QStringList textsOf(const ListView& list) {
    QStringList texts;
    for (const auto& row : rowsOf(list))
        texts.append(row.first);
    return texts;
}

// Each row's tag is a path made from its position, so a test can tell
// whether texts and tags stayed together.
void fill(ListView& list, const QStringList& texts) {
    for (qsizetype i = 0; i < texts.size(); ++i) {
        auto* row = new QTreeWidgetItem(&list);
        row->setText(0, texts[i]);
        ListView::setTag(row, QStringLiteral("/Messung/Original/%1.dcm").arg(i));
    }
}

// The part of the main window that a load works on.
struct ListWindow {
    QWidget window;
    ListView* list = new ListView(&window);
    QProgressBar* bar = new QProgressBar(&window);
    ListWindow() { bar->hide(); }
    bool listShown() const { return !list->isHidden() && bar->isHidden(); }
};

} // namespace

class TestImageList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale::c()); }

    void sortKeyFor_data();
    void sortKeyFor();
    void sortOrdersNumbersByValueAndAlternates_data();
    void sortOrdersNumbersByValueAndAlternates();
    void sortsMoreThan32767Rows();
    void sortFailureLeavesTheListAlone_data();
    void sortFailureLeavesTheListAlone();

    void rowsHoldNumberPathAndMeasuredState_data();
    void rowsHoldNumberPathAndMeasuredState();
    void progressBarCountsFilesAndKeepsItsMaximumForEmptyFolders();
    void missingFolderChangesNothing();
    void unreadableFilesAreNamedAndTheRestListed();
    void missingOriginalIsReported();
    void newerLoadOrClosedWindowAbandonsRunningLoad_data();
    void newerLoadOrClosedWindowAbandonsRunningLoad();

private:
    TestWorkspace m_workspace;
    QString measurement(const QString& name) const {
        return m_workspace.path(QStringLiteral("/Messungen/") + name);
    }
    // Writes Original/<file> holding the image number.
    static void writeImage(const QString& folder, const QString& file, const QString& number) {
        QDir().mkpath(folder + QStringLiteral("/Original"));
        fixtures::DicomSpec spec;
        spec.patientId = number;
        spec.width = 8;
        spec.height = 8;
        fixtures::writeDicom(folder + QStringLiteral("/Original/") + file, spec);
    }
    static void writeImages(const QString& folder, int count) {
        for (int i = 1; i <= count; ++i)
            writeImage(folder, QStringLiteral("%1.dcm").arg(i), QString::number(i));
    }
};

void TestImageList::sortKeyFor_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key"); // empty: not a number

    const QLocale c = QLocale::c();
    const QLocale german(QLocale::German, QLocale::Germany);
    const QString z29(29, QLatin1Char('0'));
    const QString z30 = z29 + QLatin1Char('0');
    QTest::newRow("integer") << c << "23" << z29.left(28) + "23." + z30;
    QTest::newRow("German decimal comma") << german << "2,5" << z29 + "2,5" + z29;
    QTest::newRow("C notation under German locale") << german << "2.5" << z29 + "2,5" + z29;
    QTest::newRow("negative") << c << "-7"
                              << "-" + z29 + "7." + z30;
    QTest::newRow("2^100 keeps every digit") << c << "1267650600228229401496703205376"
                                             << "1267650600228229401496703205376." + z30;
    QTest::newRow("word") << c << "Kuh" << QString();
    QTest::newRow("trailing letters") << c << "12a" << QString();
    QTest::newRow("infinity") << c << "inf" << QString();
    QTest::newRow("not a number") << c << "nan" << QString();
    QTest::newRow("overflowing exponent") << c << "1e400" << QString();
}

void TestImageList::sortKeyFor() {
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QFETCH(QString, key);
    const std::optional<QString> result = imagelist::sortKeyFor(text, locale);
    QCOMPARE(result.value_or(QString()), key);
}

void TestImageList::sortOrdersNumbersByValueAndAlternates_data() {
    QTest::addColumn<bool>("german");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("ascending"); // positions of the rows in ascending order

    QTest::newRow("numbers by value") << false << QStringList{"10", "9", "100"} << QList{1, 0, 2};
    QTest::newRow("words after numbers")
        << false << QStringList{"Kuh", "10", "9"} << QList{2, 1, 0};
    QTest::newRow("negative before positive") << false << QStringList{"3", "-5"} << QList{1, 0};
    QTest::newRow("German decimal comma")
        << true << QStringList{"10", "2,5", "2"} << QList{2, 1, 0};
    QTest::newRow("equal values keep their order")
        << false << QStringList{"7", "07", "7.0"} << QList{0, 1, 2};
    QTest::newRow("text holding the separator character")
        << false << QStringList{QStringLiteral("B") + QChar(0) + "x", "A"} << QList{1, 0};
    QTest::newRow("empty list") << false << QStringList{} << QList<int>{};
}

// A fresh list is ascending, so the first call sorts descending and the
// second ascending again; texts and tags stay together.
void TestImageList::sortOrdersNumbersByValueAndAlternates() {
    QFETCH(bool, german);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, ascending);
    if (german)
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    MessageRecorder messages;
    ListView list;
    fill(list, texts);
    const Rows before = rowsOf(list);
    Rows expected;
    for (int position : std::as_const(ascending))
        expected.append(before[position]);

    imagelist::SortListViewColumn(0, &list);
    QCOMPARE(list.sortOrder(), 1);
    QVERIFY(list.sorted());
    imagelist::SortListViewColumn(0, &list);
    QCOMPARE(list.sortOrder(), 0);
    QCOMPARE(rowsOf(list), expected);
    QCOMPARE(modGlobal::lockedWindow(), nullptr);
    QCOMPARE(messages.count(), 0);
}

void TestImageList::sortsMoreThan32767Rows() {
    constexpr int count = 40000;
    MessageRecorder messages;
    ListView list;
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts.append(QString::number(i * 7919 % count + 1)); // 1 to count, shuffled
    fill(list, texts);

    imagelist::SortListViewColumn(0, &list);
    QCOMPARE(list.topLevelItem(0)->text(0), QString::number(count));
    QCOMPARE(list.topLevelItem(count - 1)->text(0), QStringLiteral("1"));
    imagelist::SortListViewColumn(0, &list);
    for (int i = 0; i < count; ++i)
        QCOMPARE(list.topLevelItem(i)->text(0).toInt(), i + 1);
    QCOMPARE(ListView::tag(list.topLevelItem(0)), QStringLiteral("/Messung/Original/0.dcm"));
    QCOMPARE(messages.count(), 0);
}

void TestImageList::sortFailureLeavesTheListAlone_data() {
    QTest::addColumn<bool>("lockHeld");
    QTest::addColumn<int>("column");
    QTest::newRow("lock held by another window") << true << 0;
    QTest::newRow("column the rows lack") << false << 2;
}

void TestImageList::sortFailureLeavesTheListAlone() {
    QFETCH(bool, lockHeld);
    QFETCH(int, column);
    MessageRecorder messages;
    QWidget holder;
    if (lockHeld)
        QVERIFY(modGlobal::LockWindowUpdate(&holder));
    QWidget window;
    auto* list = new ListView(&window);
    fill(*list, {"10", "9", "100"});
    const Rows before = rowsOf(*list);

    imagelist::SortListViewColumn(column, list);

    QCOMPARE(modGlobal::lockedWindow(), lockHeld ? &holder : nullptr);
    modGlobal::LockWindowUpdate(nullptr);
    QCOMPARE(rowsOf(*list), before);
    QCOMPARE(list->sortOrder(), 0);
    QCOMPARE(messages.count(), 1);
    if (lockHeld)
        QCOMPARE(messages.last().text,
                 QStringLiteral("Can't lock window ") + QString::number(window.winId()));
    else
        QVERIFY(messages.last().text.startsWith(QStringLiteral("Runtime error 9: \r\n")));
    QCOMPARE(messages.last().icon, modGlobal::Icon::Critical);
    QCOMPARE(messages.last().title, QStringLiteral("Kalvara"));
}

void TestImageList::rowsHoldNumberPathAndMeasuredState_data() {
    QTest::addColumn<int>("direction");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("ascending") << 0 << QStringList{"5", "7", "7", "23"};
    QTest::newRow("descending") << 1 << QStringList{"23", "7", "7", "5"};
}

// The number comes from inside the file, not from its name, and names the
// measured copy; every file is read whatever its extension.
void TestImageList::rowsHoldNumberPathAndMeasuredState() {
    QFETCH(int, direction);
    QFETCH(QStringList, texts);
    MessageRecorder messages;
    const QString folder = measurement(QStringLiteral("Messung_rows"));
    writeImage(folder, QStringLiteral("17.dcm"), QStringLiteral("23"));
    writeImage(folder, QStringLiteral("ohne Endung"), QStringLiteral("5"));
    writeImage(folder, QStringLiteral("a.dcm"), QStringLiteral("7"));
    writeImage(folder, QStringLiteral("b.dcm"), QStringLiteral("7"));
    QDir().mkpath(folder + QStringLiteral("/Gemessen"));
    for (const char* measured : {"23.dcm", "7.dcm", "99.dcm", "17.dcm"}) {
        QFile file(folder + QStringLiteral("/Gemessen/") + QLatin1String(measured));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ListWindow w;
    w.list->setSortOrder(direction);

    QVERIFY(imagelist::LoadImageList(w.list, w.bar, folder));
    QVERIFY(imagelist::LoadImageList(w.list, w.bar, folder)); // a second load keeps the order

    QCOMPARE(textsOf(*w.list), texts);
    QCOMPARE(w.list->sortOrder(), direction);
    const QString original = folder + QStringLiteral("/Original/");
    const QHash<QString, QString> pathOf{{"23", original + "17.dcm"},
                                         {"5", original + "ohne Endung"}};
    for (int i = 0; i < w.list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = w.list->topLevelItem(i);
        QCOMPARE(row->text(1),
                 row->text(0) == QStringLiteral("5") ? QStringLiteral("-") : QStringLiteral("X"));
        if (pathOf.contains(row->text(0)))
            QCOMPARE(ListView::tag(row), pathOf[row->text(0)]);
    }
    QCOMPARE(messages.count(), 0);
}

void TestImageList::progressBarCountsFilesAndKeepsItsMaximumForEmptyFolders() {
    MessageRecorder messages;
    const QString three = measurement(QStringLiteral("Messung_drei"));
    const QString five = measurement(QStringLiteral("Messung_fuenf"));
    const QString empty = measurement(QStringLiteral("Messung_leer"));
    writeImages(three, 3);
    writeImages(five, 5);
    QDir().mkpath(empty + QStringLiteral("/Original"));
    ListWindow w;

    QVERIFY(imagelist::LoadImageList(w.list, w.bar, three));
    QCOMPARE(w.bar->maximum(), 3);
    QCOMPARE(w.bar->value(), 3);
    QVERIFY(w.listShown());
    QCOMPARE(w.list->topLevelItemCount(), 3);

    QVERIFY(imagelist::LoadImageList(w.list, w.bar, five));
    QVERIFY(imagelist::LoadImageList(w.list, w.bar, empty));
    QCOMPARE(w.bar->maximum(), 5);
    QCOMPARE(w.list->topLevelItemCount(), 0);
    QVERIFY(w.listShown());
    QCOMPARE(messages.count(), 0);
}

void TestImageList::missingFolderChangesNothing() {
    MessageRecorder messages;
    ListWindow w;
    fill(*w.list, {"4", "2"});
    w.bar->setMaximum(9);
    QVERIFY(imagelist::LoadImageList(w.list, w.bar, measurement(QStringLiteral("fehlt"))));
    QCOMPARE(textsOf(*w.list), (QStringList{"4", "2"}));
    QCOMPARE(w.bar->maximum(), 9);
    QVERIFY(w.listShown());
    QCOMPARE(messages.count(), 0);
}

void TestImageList::unreadableFilesAreNamedAndTheRestListed() {
    MessageRecorder messages;
    const QString folder = measurement(QStringLiteral("Messung_kaputt"));
    writeImage(folder, QStringLiteral("gut.dcm"), QStringLiteral("12"));
    QFile text(folder + QStringLiteral("/Original/notiz.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("keine DICOM-Datei");
    text.close();
    QFile empty(folder + QStringLiteral("/Original/leer.dcm"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    ListWindow w;

    QVERIFY(imagelist::LoadImageList(w.list, w.bar, folder));

    QCOMPARE(textsOf(*w.list), QStringList{"12"});
    QVERIFY(w.listShown());
    QCOMPARE(w.bar->value(), 3);
    QCOMPARE(messages.count(), 1);
    QVERIFY(messages.last().text.contains(QStringLiteral("notiz.txt")));
    QVERIFY(messages.last().text.contains(QStringLiteral("leer.dcm")));
    QVERIFY(!messages.last().text.contains(QStringLiteral("gut.dcm")));
    QCOMPARE(messages.last().icon, modGlobal::Icon::Warning);
    QCOMPARE(messages.last().title, QStringLiteral("Kalvara"));
}

void TestImageList::missingOriginalIsReported() {
    MessageRecorder messages;
    const QString folder = measurement(QStringLiteral("Messung_ohne"));
    QDir().mkpath(folder + QStringLiteral("/Gemessen"));
    ListWindow w;
    fill(*w.list, {"4"});

    QVERIFY(imagelist::LoadImageList(w.list, w.bar, folder));

    QCOMPARE(w.list->topLevelItemCount(), 0);
    QVERIFY(w.listShown());
    QCOMPARE(messages.count(), 1);
    QVERIFY(messages.last().text.contains(QStringLiteral("„Original“")));
    QCOMPARE(messages.last().icon, modGlobal::Icon::Warning);
}

void TestImageList::newerLoadOrClosedWindowAbandonsRunningLoad_data() {
    QTest::addColumn<QString>("interruption");
    QTest::newRow("second folder loads") << "load";
    QTest::newRow("second folder missing") << "missing";
    QTest::newRow("window closed") << "close";
}

// The interruption runs from the first load's event processing, as a second
// folder choice or closing the window would.
void TestImageList::newerLoadOrClosedWindowAbandonsRunningLoad() {
    QFETCH(QString, interruption);
    MessageRecorder messages;
    const QString first = measurement(QStringLiteral("Messung_erste"));
    const QString second = measurement(QStringLiteral("Messung_") + interruption);
    writeImages(first, 3);
    if (interruption == QStringLiteral("load")) {
        writeImage(second, QStringLiteral("a.dcm"), QStringLiteral("40"));
        writeImage(second, QStringLiteral("b.dcm"), QStringLiteral("41"));
    }
    auto* w = new ListWindow;
    bool secondFinished = false;
    QTimer::singleShot(0, [&] {
        if (interruption == QStringLiteral("close")) {
            delete w;
            w = nullptr;
        } else {
            secondFinished = imagelist::LoadImageList(w->list, w->bar, second);
        }
    });

    QVERIFY(!imagelist::LoadImageList(w->list, w->bar, first));

    QCOMPARE(messages.count(), 0);
    if (interruption == QStringLiteral("close")) {
        QCOMPARE(w, nullptr);
        return;
    }
    QVERIFY(secondFinished);
    QVERIFY(w->listShown());
    QCOMPARE(w->list->sortOrder(), 0);
    if (interruption == QStringLiteral("load")) {
        QCOMPARE(textsOf(*w->list), (QStringList{"40", "41"}));
        QVERIFY(ListView::tag(w->list->topLevelItem(0)).startsWith(second));
        QCOMPARE(w->bar->value(), 2);
    } else {
        QCOMPARE(w->list->topLevelItemCount(), 0);
    }
    delete w;
}

QTEST_MAIN(TestImageList)
#include "tst_imagelist.moc"
