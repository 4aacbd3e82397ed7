#include "DicomFixtures.h"
#include "DicomViewer.h"
#include "Folders.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

QStringList entries(const QComboBox& box) {
    QStringList texts;
    for (int i = 0; i < box.count(); ++i)
        texts.append(box.itemText(i));
    return texts;
}

QStringList catalogue(const QStringList& dated = {}) {
    return QStringList{folders::kCurrentEntry, folders::kExternalEntry} + dated;
}

// The main window's parts that archiving works on.
struct ArchiveWindow {
    imaging::DicomViewer dvIMG;
    QTreeWidget lvwList;
    QPushButton cmdCloseStudy;
    QComboBox cboDone;
    QString strCurrentFolder = folders::currentFolderPath();

    void click() {
        folders::cmdCloseStudy_Click(&dvIMG, &lvwList, &cmdCloseStudy, &cboDone, strCurrentFolder);
    }
};

} // namespace

class TestFolders : public QObject {
    Q_OBJECT

    std::unique_ptr<TestWorkspace> m_workspace;
    std::unique_ptr<MessageRecorder> m_messages;
    int m_imageFiles = 0;

    QString path(const QString& relative) const { return m_workspace->path(relative); }
    void mkdir(const QString& name) const {
        m_workspace->mkpath(QStringLiteral("/Messungen/") + name);
    }
    QStringList originals(const QString& folder) const {
        return m_workspace->fileNames(QStringLiteral("/Messungen/") + folder +
                                      QStringLiteral("/Original"));
    }

    // A current measurement with an unmeasured and a measured image, the
    // first shown in the viewer, two list rows, and the image's study date
    // kept in the archive button.
    void prepareCurrentMeasurement(ArchiveWindow& window) {
        mkdir(QStringLiteral("Messung/Original"));
        mkdir(QStringLiteral("Messung/Gemessen"));
        const QString original = path(QStringLiteral("/Messungen/Messung/Original/1.2.3.dcm"));
        fixtures::DicomSpec spec{
            QStringLiteral("4711"), QStringLiteral("1.2.3"), {}, QStringLiteral("20110607"), 8, 8};
        fixtures::writeDicom(original, spec);
        spec.sopInstanceUid = QStringLiteral("1.2.4");
        fixtures::writeDicom(path(QStringLiteral("/Messungen/Messung/Gemessen/4711.dcm")), spec);
        m_imageFiles += 2;
        window.dvIMG.images().readFile(original);
        window.lvwList.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("4711")}));
        window.lvwList.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("4712")}));
        window.cmdCloseStudy.setProperty("Tag", QStringLiteral("20110607"));
    }

    // Nothing of the window or the folders changed, and one message said why.
    void verifyNothingDone(const ArchiveWindow& window, modGlobal::Icon icon) {
        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().icon, icon);
        QCOMPARE(m_messages->last().title, QStringLiteral("Kalvara"));
        QCOMPARE(window.dvIMG.images().count(), 1);
        QCOMPARE(window.lvwList.topLevelItemCount(), 2);
        QCOMPARE(entries(window.cboDone), QStringList{QStringLiteral("unverändert")});
        QCOMPARE(originals(QStringLiteral("Messung")), QStringList{QStringLiteral("1.2.3.dcm")});
    }

private Q_SLOTS:
    void init() {
        m_workspace = std::make_unique<TestWorkspace>();
        m_messages = std::make_unique<MessageRecorder>();
        m_workspace->mkpath(QStringLiteral("/Messungen"));
        m_imageFiles = 0;
    }

    // Whatever a test did, every image file it wrote is still in the workspace.
    void cleanup() {
        int found = 0;
        for (QDirIterator it(m_workspace->root(), {QStringLiteral("*.dcm")}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++found;
        QCOMPARE(found, m_imageFiles);
        m_messages.reset();
        m_workspace.reset();
    }

    void formatsDates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("formatted"); // "=" when the text stays as it is
        QTest::newRow("folder form") << "2026.12.05"
                                     << "2026.12.05";
        QTest::newRow("ISO form") << "2026-12-05"
                                  << "2026.12.05";
        QTest::newRow("settings form") << "05.12.2026"
                                       << "2026.12.05";
        QTest::newRow("DICOM form") << " 20110607 "
                                    << "2011.06.07";
        QTest::newRow("leap day") << "2024.02.29"
                                  << "2024.02.29";
        for (const char* text : {"2023.02.29", "2026.02.30", "13.13.2026", "00000101",
                                 "2026.12.05_1", "2026.1.05", "2026.12-05", "2026", ""})
            QTest::newRow(text) << QString::fromLatin1(text) << "=";
        QTest::newRow("other script digits") << QStringLiteral("٢٠٢٦١٢٠٥") << "=";
    }
    void formatsDates() {
        QFETCH(QString, text);
        QFETCH(QString, formatted);
        const bool isDate = formatted != QStringLiteral("=");
        QCOMPARE(folders::parseDate(text).has_value(), isDate);
        QCOMPARE(folders::formatFolderDate(text), isDate ? formatted : text);
    }

    void entriesAndPaths_data() {
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("entry"); // "<none>": the folder gets no entry
        QTest::addColumn<QString>("opens"); // the folder the entry opens
        QTest::newRow("current") << "Messung"
                                 << "<none>"
                                 << "";
        QTest::newRow("dated") << "Messung_2026.12.05"
                               << "2026.12.05"
                               << "Messung_2026.12.05";
        QTest::newRow("counter") << "Messung_2026.12.05_1"
                                 << "2026.12.05_1"
                                 << "Messung_2026.12.05_1";
        QTest::newRow("other prefix") << "Kopie_2026.12.05"
                                      << "2026.12.05"
                                      << "Messung_2026.12.05";
        QTest::newRow("other date form") << "Messung_05.12.2026"
                                         << "2026.12.05"
                                         << "Messung_2026.12.05";
        QTest::newRow("not a date") << "Messung_alt"
                                    << "alt"
                                    << "Messung_alt";
    }
    void entriesAndPaths() {
        QFETCH(QString, folderName);
        QFETCH(QString, entry);
        QFETCH(QString, opens);
        const std::optional<QString> made = folders::entryForFolderName(folderName);
        QCOMPARE(made.value_or(QStringLiteral("<none>")), entry);
        if (made)
            QCOMPARE(folders::folderPathForEntry(*made),
                     path(QStringLiteral("/Messungen/") + opens));
    }

    void catalogueListsDatedFolders() {
        QComboBox box;
        folders::CheckDoneFolders(&box);
        QCOMPARE(entries(box), catalogue());
        QCOMPARE(box.currentIndex(), -1);

        for (const char* name : {"Messung", "Messung_2026.12.05", "Messung_2026.12.05_1",
                                 "Kopie_2026.12.05", "Messung_20110607"})
            mkdir(QString::fromLatin1(name));
        QVERIFY(
            QFile(path(QStringLiteral("/Messungen/Notiz_2026.12.06"))).open(QIODevice::WriteOnly));
        box.setCurrentIndex(1);
        folders::CheckDoneFolders(&box);
        // Case-insensitive name order: Kopie_..., Messung, Messung_2011..., Messung_2026...
        const QStringList expected =
            catalogue({QStringLiteral("2026.12.05"), QStringLiteral("2011.06.07"),
                       QStringLiteral("2026.12.05"), QStringLiteral("2026.12.05_1")});
        QCOMPARE(entries(box), expected);
        QCOMPARE(box.currentIndex(), -1);

        QVERIFY(QDir(path(QStringLiteral("/Messungen"))).removeRecursively());
        QVERIFY_THROWS_EXCEPTION(modGlobal::FileSystemError, folders::CheckDoneFolders(&box));
        QCOMPARE(entries(box), catalogue());
        QCOMPARE(box.currentIndex(), -1);
    }

    // Events run during a rebuild: a second rebuild started then leaves one
    // catalogue, not two merged ones, and a selector closed then is left alone.
    void catalogueRebuiltOrClosedDuringRebuild() {
        mkdir(QStringLiteral("Messung_2026.12.05"));
        mkdir(QStringLiteral("Messung_2026.12.06"));
        QComboBox box;
        QMetaObject::invokeMethod(
            &box, [&box] { folders::CheckDoneFolders(&box); }, Qt::QueuedConnection);
        folders::CheckDoneFolders(&box);
        const QStringList expected =
            catalogue({QStringLiteral("2026.12.05"), QStringLiteral("2026.12.06")});
        QCOMPARE(entries(box), expected);

        auto* closing = new QComboBox;
        const QPointer<QComboBox> watched(closing);
        QMetaObject::invokeMethod(
            &box, [closing] { delete closing; }, Qt::QueuedConnection);
        folders::CheckDoneFolders(closing);
        QVERIFY(watched.isNull());
    }

    void archiveNames_data() {
        QTest::addColumn<QStringList>("taken"); // suffixes of existing names, "" the base
        QTest::addColumn<QString>("chosen");
        QTest::newRow("base free") << QStringList{"_1"} << "";
        QTest::newRow("base taken") << QStringList{""} << "_1";
        QTest::newRow("_1 taken") << QStringList{"", "_1"} << "_2";
        QTest::newRow("_1 free, _2 taken") << QStringList{"", "_2"} << "_1";
        QStringList many{""};
        for (int n = 1; n <= 32767; ++n)
            many.append(QStringLiteral("_%1").arg(n));
        QTest::newRow("past 16 bits") << many << "_32768";
    }
    void archiveNames() {
        QFETCH(QStringList, taken);
        QFETCH(QString, chosen);
        const QString base = QStringLiteral("/w/Messungen/Messung_2026.12.05");
        QSet<QString> existing;
        for (const QString& suffix : std::as_const(taken))
            existing.insert(base + suffix);
        QCOMPARE(folders::archiveFolderName(base,
                                            [&](const QString& p) { return existing.contains(p); }),
                 base + chosen);
    }

    void archiveMovesCurrentFolder_data() {
        QTest::addColumn<QStringList>("existing"); // folders, or a file when ending in ".txt"
        QTest::addColumn<QString>("archive");
        const QString base = QStringLiteral("Messung_2011.06.07");
        QTest::newRow("base free") << QStringList{} << base;
        QTest::newRow("base taken") << QStringList{base} << base + "_1";
        QTest::newRow("_1 taken") << QStringList{base, base + "_1"} << base + "_2";
        QTest::newRow("_1 free, _2 taken") << QStringList{base, base + "_2"} << base + "_1";
        QTest::newRow("file of the base name") << QStringList{base + ".txt"} << base + "_1";
    }
    void archiveMovesCurrentFolder() {
        QFETCH(QStringList, existing);
        QFETCH(QString, archive);
        for (const QString& name : std::as_const(existing)) {
            if (name.endsWith(QStringLiteral(".txt")))
                QVERIFY(QFile(path(QStringLiteral("/Messungen/") + name.chopped(4)))
                            .open(QIODevice::WriteOnly));
            else
                mkdir(name);
        }
        ArchiveWindow window;
        prepareCurrentMeasurement(window);

        window.click();

        QCOMPARE(m_messages->count(), 0);
        QCOMPARE(window.dvIMG.images().count(), 0);
        QCOMPARE(window.lvwList.topLevelItemCount(), 0);
        QVERIFY(!QFileInfo::exists(window.strCurrentFolder));
        QCOMPARE(originals(archive), QStringList{QStringLiteral("1.2.3.dcm")});
        QCOMPARE(m_workspace->fileNames(QStringLiteral("/Messungen/") + archive +
                                        QStringLiteral("/Gemessen")),
                 QStringList{QStringLiteral("4711.dcm")});
        QVERIFY(entries(window.cboDone).contains(*folders::entryForFolderName(archive)));
        QCOMPARE(window.cboDone.currentIndex(), -1);
    }

    // Also the second of two clicks in a row: nothing is left to move.
    void archiveWithoutCurrentFolder() {
        ArchiveWindow window;
        prepareCurrentMeasurement(window);
        window.click();
        window.lvwList.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("1")}));
        window.cboDone.clear();

        window.click();

        QCOMPARE(m_messages->count(), 0);
        QCOMPARE(window.lvwList.topLevelItemCount(), 0);
        QCOMPARE(entries(window.cboDone), catalogue({QStringLiteral("2011.06.07")}));
        QCOMPARE(originals(QStringLiteral("Messung_2011.06.07")),
                 QStringList{QStringLiteral("1.2.3.dcm")});
    }

    void archiveBeforeAnyImage() {
        ArchiveWindow window;
        prepareCurrentMeasurement(window);
        window.cmdCloseStudy.setProperty("Tag", QString());
        window.cboDone.addItem(QStringLiteral("unverändert"));
        window.click();
        verifyNothingDone(window, modGlobal::Icon::Information);
        QCOMPARE(m_messages->last().text,
                 QStringLiteral("Sie müssen zunächst ein Bild aus der Studie anwählen."));
    }

    void archiveRefusesMalformedDate_data() {
        QTest::addColumn<QString>("studyDate");
        for (const char* date : {"2026", "20260230", "unbekannt"})
            QTest::newRow(date) << QString::fromLatin1(date);
    }
    void archiveRefusesMalformedDate() {
        QFETCH(QString, studyDate);
        ArchiveWindow window;
        prepareCurrentMeasurement(window);
        window.cmdCloseStudy.setProperty("Tag", studyDate);
        window.cboDone.addItem(QStringLiteral("unverändert"));
        window.click();
        verifyNothingDone(window, modGlobal::Icon::Critical);
        QVERIFY(m_messages->last().text.contains(QStringLiteral("kein gültiges Datum")));
        QVERIFY(m_messages->last().text.contains(studyDate));
    }

    // A folder chosen in the selector while free names are probed does not
    // change which folder is archived.
    void archiveKeepsFolderChosenAtClick() {
        mkdir(QStringLiteral("Messung_2011.06.07"));
        ArchiveWindow window;
        prepareCurrentMeasurement(window);
        QMetaObject::invokeMethod(
            &window.cboDone,
            [&window] {
                window.strCurrentFolder = folders::folderPathForEntry(QStringLiteral("2011.06.07"));
            },
            Qt::QueuedConnection);
        window.click();
        QCOMPARE(m_messages->count(), 0);
        QVERIFY(QFileInfo(path(QStringLiteral("/Messungen/Messung_2011.06.07"))).isDir());
        QCOMPARE(originals(QStringLiteral("Messung_2011.06.07_1")),
                 QStringList{QStringLiteral("1.2.3.dcm")});
    }

    // A move the file system refuses (here: a folder into itself) is
    // reported; the folder stays and the selector is left alone.
    void archiveReportsFailingMove() {
        ArchiveWindow window;
        prepareCurrentMeasurement(window);
        window.strCurrentFolder = path(QStringLiteral("/Messungen"));
        window.cboDone.addItem(QStringLiteral("unverändert"));
        window.click();
        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().icon, modGlobal::Icon::Critical);
        QVERIFY(m_messages->last().text.contains(QStringLiteral("Archivieren")));
        QCOMPARE(originals(QStringLiteral("Messung")), QStringList{QStringLiteral("1.2.3.dcm")});
        QCOMPARE(entries(window.cboDone), QStringList{QStringLiteral("unverändert")});
    }
};

QTEST_MAIN(TestFolders)
#include "tst_folders.moc"
