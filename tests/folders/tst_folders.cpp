#include "DicomFixtures.h"
#include "TestSupport.h"
#include "folders/Folders.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestFolders : public QObject {
    Q_OBJECT

    const QStringList m_fixed{folders::kCurrentEntry, folders::kExternalEntry};

    static QStringList entries(const QComboBox& box) {
        QStringList texts;
        for (int i = 0; i < box.count(); ++i)
            texts.append(box.itemText(i));
        return texts;
    }
    static QString path(const QString& n) { return modGlobal::workspaceRoot() + "/Messungen/" + n; }

private Q_SLOTS:
    void catalogue() {
        const TestWorkspace workspace;
        QComboBox box;
        session::Session s;
        const session::Controls c{.cboDone = &box};
        QVERIFY_THROWS_EXCEPTION(modGlobal::FileSystemError, folders::CheckDoneFolders(s, c));
        QCOMPARE(entries(box), m_fixed);
        for (const char* name : {"Messung", "Messung_2026.12.05", "Messung_2026.12.05_1",
                                 "Kopie_2026.12.05", "Messung_20110607"})
            QVERIFY(QDir().mkpath(path(QString::fromLatin1(name))));
        writeFile(path("Notiz_2026.12.06"));
        box.setCurrentIndex(1);
        folders::CheckDoneFolders(s, c);
        // Listed by name, case-insensitively: Kopie_..., Messung, Messung_2011..., Messung_2026...
        QCOMPARE(entries(box),
                 (m_fixed + QStringList{"2026.12.05", "2011.06.07", "2026.12.05", "2026.12.05_1"}));
        QCOMPARE(box.currentIndex(), -1);
    }

    // The second rebuild runs from the first one's event processing, as a closing import would.
    void rebuildStartedDuringARebuildTakesOver() {
        const TestWorkspace workspace;
        for (const char* name : {"Messung_2026.12.05", "Messung_2026.12.06"})
            QVERIFY(QDir().mkpath(path(QString::fromLatin1(name))));
        QComboBox box;
        session::Session s;
        const session::Controls c{.cboDone = &box};
        QTimer::singleShot(0, [&] { folders::CheckDoneFolders(s, c); });
        folders::CheckDoneFolders(s, c);
        QCOMPARE(entries(box), (m_fixed + QStringList{"2026.12.05", "2026.12.06"}));
    }

    void archive_data() {
        QTest::addColumn<QString>("tag");     // the study date kept in the archive button
        QTest::addColumn<QString>("current"); // the window's current folder
        QTest::addColumn<QString>("message"); // part of the one message shown; empty: none
        QTest::addColumn<QString>("folder");  // where the measurement is afterwards
        const auto row = [](const char* name, auto... texts) {
            (QTest::newRow(name) << ... << QString::fromUtf8(texts));
        };
        row("archived", "20110607", "Messung", "", "Messung_2011.06.07");
        row("base taken by a file", "20110607", "Messung", "", "Messung_2011.06.07_1");
        row("_1 taken too", "20110607", "Messung", "", "Messung_2011.06.07_2");
        row("no current folder", "20110607", "Fehlt", "", "Messung");
        row("no image shown yet", "", "Messung", "zunächst ein Bild", "Messung");
        for (const char* date : {"2026", "20260230", "unbekannt"})
            row(date, date, "Messung", "kein gültiges Datum", "Messung");
    }
    void archive() {
        QFETCH(QString, tag);
        QFETCH(QString, current);
        QFETCH(QString, message);
        QFETCH(QString, folder);
        const TestWorkspace workspace;
        const MessageRecorder messages;
        QVERIFY(QDir().mkpath(path("Messung/Original")));
        // Files of the names before the chosen one block them as folders would.
        for (int n = 0; n < folder.section('_', 2).toInt(); ++n)
            writeFile(path(folder.section('_', 0, 1) + (n ? "_" + QString::number(n) : "")));
        // The image's own date differs: the date stored in the button decides.
        fixtures::writeDicom(path("Messung/Original/1.2.3.dcm"),
                             {"4711", "1.2.3", {}, "20200101", 8, 8});
        imaging::DicomViewer viewer;
        viewer.images().readFile(path("Messung/Original/1.2.3.dcm"));
        imagelist::ListView list;
        new QTreeWidgetItem(&list, {QStringLiteral("4711")});
        QPushButton button;
        button.setProperty("Tag", tag);
        QComboBox selector;
        selector.addItem(QStringLiteral("unverändert"));
        session::Session s;
        s.currentFolder = path(current);

        const bool cleared = folders::cmdCloseStudy_Click(
            s,
            {.cboDone = &selector, .lvwList = &list, .dvIMG = &viewer, .cmdCloseStudy = &button});

        const bool refused = !message.isEmpty();
        QCOMPARE(cleared, !refused); // the window then keeps its image commands
        QCOMPARE(messages.count(), refused ? 1 : 0);
        if (refused) {
            QVERIFY2(messages.last().text.contains(message), qPrintable(messages.last().text));
            QVERIFY2(messages.last().text.contains(tag), qPrintable(messages.last().text));
        }
        // One image in the viewer and one row in the list before.
        QCOMPARE(viewer.images().count() + list.topLevelItemCount(), refused ? 2 : 0);
        const bool moved = folder != "Messung";
        const QStringList rebuilt = moved ? m_fixed + QStringList{folder.mid(8)} : m_fixed;
        QCOMPARE(entries(selector), refused ? QStringList{"unverändert"} : rebuilt);
        // The image is in the archive, or where it was, and nowhere else.
        QCOMPARE(QDir(path("Messung")).exists(), !moved);
        QCOMPARE(QDir(path(folder + "/Original")).entryList(QDir::Files), QStringList{"1.2.3.dcm"});
    }
};

QTEST_MAIN(TestFolders)
#include "tst_folders.moc"
