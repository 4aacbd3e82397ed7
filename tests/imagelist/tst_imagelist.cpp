#include "DicomFixtures.h"
#include "ImageList.h"
#include "ListView.h"
#include "TestSupport.h"
#include "modGlobal.h"

#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

using imagelist::ListView;

namespace {

using Rows = QList<QPair<QString, QString>>; // text and tag of each row, in order

Rows rowsOf(const ListView& list, int column = 0) {
    Rows rows;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = list.topLevelItem(i);
        rows.append({row->text(column), ListView::tag(row, column)});
    }
    return rows;
}

QStringList textsOf(const ListView& list, int column = 0) {
    QStringList texts;
    for (const auto& row : rowsOf(list, column))
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

const QString kKeyZeros(30, QLatin1Char('0'));

// The main window's part that the load works on.
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
    void sortsNumbersByValueAndKeepsTextsAndTags_data();
    void sortsNumbersByValueAndKeepsTextsAndTags();
    void eachSortReversesTheDirection();
    void sortsMoreThan32767Rows();
    void refusedLockLeavesTheListAlone();
    void missingColumnIsReported();

    void rowsHoldNumberPathAndMeasuredState_data();
    void rowsHoldNumberPathAndMeasuredState();
    void progressBarCountsFilesAndKeepsItsMaximumForEmptyFolders();
    void missingFolderChangesNothing();
    void unreadableFilesAreNamedAndTheRestListed();
    void missingOriginalIsReported();
    void newerLoadSupersedesRunningOne_data();
    void newerLoadSupersedesRunningOne();
    void closingTheListDuringLoadAbandonsIt();

private:
    TestWorkspace m_workspace;
    QString measurement(const QString& name) const {
        return m_workspace.path(QStringLiteral("/Messungen/") + name);
    }
    // Writes Original/<file> holding the image number.
    void writeImage(const QString& folder, const QString& file, const QString& number) const {
        QDir().mkpath(folder + QStringLiteral("/Original"));
        fixtures::DicomSpec spec;
        spec.patientId = number;
        spec.width = 8;
        spec.height = 8;
        fixtures::writeDicom(folder + QStringLiteral("/Original/") + file, spec);
    }
};

void TestImageList::sortKeyFor_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key"); // empty: not a number

    const QLocale c = QLocale::c();
    const QLocale german(QLocale::German, QLocale::Germany);
    const QString zeros28(28, QLatin1Char('0'));
    QTest::newRow("integer") << c << "23" << zeros28 + "23." + kKeyZeros;
    QTest::newRow("German decimal comma")
        << german << "2,5" << kKeyZeros.left(29) + "2,5" + kKeyZeros.left(29);
    QTest::newRow("C notation under German locale")
        << german << "2.5" << kKeyZeros.left(29) + "2,5" + kKeyZeros.left(29);
    QTest::newRow("negative") << c << "-7"
                              << "-" + kKeyZeros.left(29) + "7." + kKeyZeros;
    QTest::newRow("zero") << c << "0" << kKeyZeros + "." + kKeyZeros;
    QTest::newRow("beyond 30 digits keeps every digit") // 2^100, exact as a double
        << c << "1267650600228229401496703205376"
        << "1267650600228229401496703205376." + kKeyZeros;
    QTest::newRow("word") << c << "Kuh" << QString();
    QTest::newRow("empty") << c << "" << QString();
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
    if (key.isEmpty()) {
        QVERIFY(!result);
    } else {
        QVERIFY(result);
        QCOMPARE(*result, key);
    }
}

void TestImageList::sortsNumbersByValueAndKeepsTextsAndTags_data() {
    QTest::addColumn<bool>("german");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("ascending"); // positions of the texts in ascending order

    QTest::newRow("numbers by value") << false << QStringList{"10", "9", "100"} << QList{1, 0, 2};
    QTest::newRow("words after numbers")
        << false << QStringList{"Kuh", "10", "9"} << QList{2, 1, 0};
    QTest::newRow("negative before positive") << false << QStringList{"3", "-5"} << QList{1, 0};
    QTest::newRow("German decimal comma")
        << true << QStringList{"10", "2,5", "2"} << QList{2, 1, 0};
    QTest::newRow("equal numbers keep their order")
        << false << QStringList{"7", "07", "7,0"} << QList{0, 1, 2};
    QTest::newRow("text holding the separator character")
        << false << QStringList{QStringLiteral("B") + QChar(0) + "x", "A"} << QList{1, 0};
}

void TestImageList::sortsNumbersByValueAndKeepsTextsAndTags() {
    QFETCH(bool, german);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, ascending);
    if (german)
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ListView list;
    fill(list, texts);
    const Rows before = rowsOf(list);
    Rows expected;
    for (int position : std::as_const(ascending))
        expected.append(before[position]);

    imagelist::SortListViewColumn(0, &list); // fresh list is ascending: this sorts descending
    imagelist::SortListViewColumn(0, &list);

    QCOMPARE(rowsOf(list), expected);
    QCOMPARE(modGlobal::lockedWindow(), nullptr);
}

void TestImageList::eachSortReversesTheDirection() {
    MessageRecorder messages;
    ListView list;
    fill(list, {"10", "9", "100"});
    imagelist::SortListViewColumn(0, &list);
    QCOMPARE(textsOf(list), (QStringList{"100", "10", "9"}));
    QCOMPARE(list.sortOrder(), 1);
    QVERIFY(list.sorted());
    imagelist::SortListViewColumn(0, &list);
    QCOMPARE(textsOf(list), (QStringList{"9", "10", "100"}));
    QCOMPARE(list.sortOrder(), 0);

    ListView empty;
    imagelist::SortListViewColumn(0, &empty);
    QCOMPARE(empty.sortOrder(), 1);
    QCOMPARE(messages.count(), 0);
}

void TestImageList::sortsMoreThan32767Rows() {
    MessageRecorder messages;
    ListView list;
    QStringList texts;
    for (int n = 40000; n > 0; --n)
        texts.append(QString::number(n));
    fill(list, texts);
    imagelist::SortListViewColumn(0, &list);
    imagelist::SortListViewColumn(0, &list);
    QCOMPARE(messages.count(), 0);
    QCOMPARE(list.topLevelItemCount(), 40000);
    for (int i = 0; i < 40000; ++i)
        QCOMPARE(list.topLevelItem(i)->text(0).toInt(), i + 1);
    QCOMPARE(ListView::tag(list.topLevelItem(0)), QStringLiteral("/Messung/Original/39999.dcm"));
}

void TestImageList::refusedLockLeavesTheListAlone() {
    MessageRecorder messages;
    QWidget holder;
    QVERIFY(modGlobal::LockWindowUpdate(&holder));
    QWidget window;
    auto* list = new ListView(&window);
    fill(*list, {"10", "9", "100"});
    const Rows before = rowsOf(*list);

    imagelist::SortListViewColumn(0, list);
    modGlobal::LockWindowUpdate(nullptr);

    QCOMPARE(rowsOf(*list), before);
    QCOMPARE(list->sortOrder(), 0);
    QVERIFY(!list->sorted());
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last().text,
             QStringLiteral("Can't lock window ") + QString::number(window.winId()));
    QCOMPARE(messages.last().icon, modGlobal::Icon::Critical);
    QCOMPARE(messages.last().title, QStringLiteral("Kalvara"));
}

void TestImageList::missingColumnIsReported() {
    MessageRecorder messages;
    ListView list;
    fill(list, {"10", "9"});
    const Rows before = rowsOf(list);
    imagelist::SortListViewColumn(2, &list);
    QCOMPARE(rowsOf(list), before);
    QCOMPARE(list.sortOrder(), 0);
    QCOMPARE(modGlobal::lockedWindow(), nullptr);
    QCOMPARE(messages.count(), 1);
    QVERIFY(messages.last().text.startsWith(QStringLiteral("Runtime error 9: \r\n")));
    QCOMPARE(messages.last().icon, modGlobal::Icon::Critical);
}

void TestImageList::rowsHoldNumberPathAndMeasuredState_data() {
    QTest::addColumn<int>("direction");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("ascending") << 0 << QStringList{"5", "7", "7", "23"};
    QTest::newRow("descending") << 1 << QStringList{"23", "7", "7", "5"};
}

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
    for (const QString& measured : {QStringLiteral("23.dcm"), QStringLiteral("7.dcm"),
                                    QStringLiteral("99.dcm"), QStringLiteral("17.dcm")}) {
        QFile file(folder + QStringLiteral("/Gemessen/") + measured);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ListWindow w;
    w.list->setSortOrder(direction);

    QVERIFY(imagelist::LoadImageList(w.list, w.bar, folder));
    QVERIFY(imagelist::LoadImageList(w.list, w.bar, folder)); // loading again keeps the order

    QCOMPARE(textsOf(*w.list), texts);
    QCOMPARE(w.list->sortOrder(), direction);
    const QString original = folder + QStringLiteral("/Original/");
    QHash<QString, QString> pathOf{{"23", original + "17.dcm"}, {"5", original + "ohne Endung"}};
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
    for (int i = 1; i <= 3; ++i)
        writeImage(three, QStringLiteral("%1.dcm").arg(i), QString::number(i));
    for (int i = 1; i <= 5; ++i)
        writeImage(five, QStringLiteral("%1.dcm").arg(i), QString::number(i));
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

void TestImageList::newerLoadSupersedesRunningOne_data() {
    QTest::addColumn<bool>("secondExists");
    QTest::newRow("second folder loads") << true;
    QTest::newRow("second folder missing") << false;
}

// The second load starts from the first one's event processing, as a second
// folder choice would.
void TestImageList::newerLoadSupersedesRunningOne() {
    QFETCH(bool, secondExists);
    MessageRecorder messages;
    const QString first = measurement(QStringLiteral("Messung_erste"));
    const QString second = measurement(secondExists ? QStringLiteral("Messung_zweite")
                                                    : QStringLiteral("Messung_fehlt"));
    for (int i = 1; i <= 3; ++i)
        writeImage(first, QStringLiteral("%1.dcm").arg(i), QString::number(i));
    if (secondExists) {
        writeImage(second, QStringLiteral("a.dcm"), QStringLiteral("40"));
        writeImage(second, QStringLiteral("b.dcm"), QStringLiteral("41"));
    }
    ListWindow w;
    bool secondFinished = false;
    QTimer::singleShot(0, w.list,
                       [&] { secondFinished = imagelist::LoadImageList(w.list, w.bar, second); });

    QVERIFY(!imagelist::LoadImageList(w.list, w.bar, first));

    QVERIFY(secondFinished);
    QVERIFY(w.listShown());
    if (secondExists) {
        QCOMPARE(textsOf(*w.list), (QStringList{"40", "41"}));
        QVERIFY(ListView::tag(w.list->topLevelItem(0)).startsWith(second));
        QCOMPARE(w.bar->value(), 2);
    } else {
        QCOMPARE(w.list->topLevelItemCount(), 0);
    }
    QCOMPARE(w.list->sortOrder(), 0);
    QCOMPARE(messages.count(), 0);
}

void TestImageList::closingTheListDuringLoadAbandonsIt() {
    const QString folder = measurement(QStringLiteral("Messung_schliessen"));
    for (int i = 1; i <= 3; ++i)
        writeImage(folder, QStringLiteral("%1.dcm").arg(i), QString::number(i));
    auto* w = new ListWindow;
    QTimer::singleShot(0, [&w] {
        delete w;
        w = nullptr;
    });
    ListView* list = w->list;
    QProgressBar* bar = w->bar;
    QVERIFY(!imagelist::LoadImageList(list, bar, folder));
    QCOMPARE(w, nullptr);
}

QTEST_MAIN(TestImageList)
#include "tst_imagelist.moc"
