#include "DicomFixtures.h"
#include "TestSupport.h"
#include "app/frmMain.h"
#include "core/AtomicFile.h"
#include "global/modGlobal.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidgetItem>
#include <QWindow>

#include <filesystem>
#include <new>
#include <vector>

using modGlobal::Icon;

namespace {

const QString kNoPermission = QStringLiteral("Es fehlt die Berechtigung für diesen Zugriff.");

// What guarded() tells the operator about a step that throws.
QString reportedCause(const std::function<void()>& step) {
    MessageRecorder messages;
    if (modGlobal::guarded(nullptr, QStringLiteral("Der Schritt"), step) || messages.count() != 1)
        return QStringLiteral("<no single report>");
    return messages.last().text.section(QStringLiteral("\n\n"), 1);
}

// The cause a file-system operation throws, or "<none>".
QString causeOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const modGlobal::FileSystemError& e) {
        return e.cause();
    }
    return QStringLiteral("<none>");
}

// The window loaded and shown; with current, the current measurement chosen.
void openWindow(frmMain& w, bool current = false) {
    QVERIFY(w.Form_Load());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (!current)
        return;
    w.cboDone->setCurrentIndex(w.cboDone->findText(QStringLiteral("- Aktuelle Messung -")));
    Q_EMIT w.cboDone->activated(w.cboDone->currentIndex());
}

} // namespace

class tst_app : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutAppliedToWindow() {
        TestWorkspace ws;
        frmMain w;
        openWindow(w);
        w.resize(1000, 733);
        QTRY_COMPARE(w.dvIMG->width(), w.frameGeometry().width() - 193);
        const QRect outer = w.frameGeometry();
        QCOMPARE(w.picMain->geometry().topLeft(),
                 QPoint((outer.width() * 15 - 2895 - 130) / 15, 0));
        QCOMPARE(w.picMain->width(), 193);
        QCOMPARE(w.dvIMG->pos(), QPoint(0, 0));
        // The overlap of 130 twips: the viewer's last column, not the panel.
        QCOMPARE(w.childAt(w.picMain->x() + 8, 300), w.dvIMG);
        QCOMPARE(w.dvIMG->geometry().right(), w.picMain->x() + 8);
        QCOMPARE(w.lblValues->geometry(), QRect(12, 675, 163, 160)); // below "Ordner archivieren"

        // Too small for panel and viewer: sizes that would be negative keep their old values,
        // the panel moves on to the left.
        const QSize panel = w.picMain->size(), viewer = w.dvIMG->size();
        w.resize(150, 20);
        QTRY_COMPARE(w.size(), QSize(150, 20));
        QCOMPARE(w.picMain->x(), (w.frameGeometry().width() * 15 - 2895 - 130) / 15);
        QCOMPARE(w.picMain->size(), panel);
        QCOMPARE(w.dvIMG->size(), viewer);
    }

    // A window manager frames the window after its first resize and sends
    // only a move with the frame. Played here by a window shown without a
    // frame that gets one at its next move: the viewer's height then comes
    // from the new outer height H, (15 H - 550) / 15 whole pixels.
    void layoutFollowsTheFrame() {
        TestWorkspace ws;
        frmMain w;
        QVERIFY(w.Form_Load());
        w.setWindowFlag(Qt::FramelessWindowHint);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int client = w.height();
        QCOMPARE(w.dvIMG->height(), client - 37);
        QWindow* window = w.windowHandle();
        window->setFlags(window->flags() & ~Qt::FramelessWindowHint);
        window->setPosition(window->position() + QPoint(5, 5)); // as the manager moves it
        QTRY_VERIFY(w.frameGeometry().height() > client);
        QCOMPARE(w.height(), client);
        QCOMPARE(w.dvIMG->height(), w.frameGeometry().height() - 37);
    }

    // The design's client area of 883 x 867 pixels does not fit the offscreen
    // screen of 800 x 800: the window opens at that size less 16 x 48 for a frame.
    void firstSizeFitsTheScreen() {
        frmMain w;
        QCOMPARE(w.screen()->availableSize(), QSize(800, 800));
        QCOMPARE(w.size(), QSize(784, 752));
    }

    // A 30-digit number is elided in the middle within the fixed column and
    // shows whole in its tooltip; a short one stays as it is and the list's
    // own tooltip (the keys) shows.
    void longNumbersElided() {
        TestWorkspace ws;
        ws.mkpath("/Messungen/Messung/Original");
        const QString tag = QStringLiteral("276000912345678901234567890123");
        fixtures::writeDicom(ws.path("/Messungen/Messung/Original/a.dcm"),
                             fixtures::DicomSpec{tag});
        fixtures::writeDicom(ws.path("/Messungen/Messung/Original/b.dcm"),
                             fixtures::DicomSpec{"17"});
        MessageRecorder messages;
        frmMain w;
        openWindow(w, true);
        QCOMPARE(w.lvwList->topLevelItemCount(), 2);
        QTreeWidgetItem* longRow = w.lvwList->topLevelItem(1);
        QTreeWidgetItem* shortRow = w.lvwList->topLevelItem(0);
        QCOMPARE(longRow->text(0), tag);

        const QString shown = w.lvwList->shownText(longRow, 0);
        // Both ends of the number around one ellipsis ("27…23" in the
        // design's font): the first digits and the last.
        const qsizetype cut = shown.indexOf(QChar(0x2026));
        const qsizetype tail = shown.size() - cut - 1;
        QVERIFY2(cut > 0, qPrintable(shown));
        QVERIFY2(tail > 0, qPrintable(shown));
        QCOMPARE(shown.left(cut), tag.left(cut));
        QCOMPARE(shown.right(tail), tag.right(tail));
        QVERIFY(QFontMetrics(w.lvwList->font()).horizontalAdvance(shown) <
                w.lvwList->columnWidth(0));
        QCOMPARE(w.lvwList->columnWidth(0), 100);
        QCOMPARE(w.lvwList->shownText(shortRow, 0), QStringLiteral("17"));

        const auto tipAt = [&](QTreeWidgetItem* row) {
            QToolTip::hideText();
            const QPoint at = w.lvwList->visualItemRect(row).center();
            QHelpEvent help(QEvent::ToolTip, at, w.lvwList->viewport()->mapToGlobal(at));
            QApplication::sendEvent(w.lvwList->viewport(), &help);
            return QToolTip::text();
        };
        QCOMPARE(tipAt(longRow), tag);
        QCOMPARE(tipAt(shortRow), w.lvwList->toolTip());
        QCOMPARE(messages.count(), 0);
    }

    void freshWorkspace() {
        TestWorkspace ws;
        MessageRecorder messages;
        frmMain w;
        QVERIFY(w.Form_Load());
        QVERIFY(QFileInfo(ws.path("/Messungen")).isDir());
        QVERIFY(QFileInfo(ws.path("/NoDCM")).isDir());
        QVERIFY(!QFile::exists(ws.path("/Settings.ini")));
        QCOMPARE(modGlobal::startLine(), QStringLiteral("0"));
        QCOMPARE(messages.count(), 0);
        QCOMPARE(w.cboDone->currentIndex(), -1);
        // The window at start: nothing shown, every command disabled.
        for (const QWidget* control : std::initializer_list<QWidget*>{
                 w.chkEdit, w.txtEdit, w.cmdEdit, w.cmdDelete, w.cmdSave, w.cmdCloseStudy})
            QVERIFY(!control->isEnabled());
    }

    void startLineSetting_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QVariant>("drawnRow"); // invalid: no start line drawn
        QTest::newRow("number") << QByteArray("[GENERAL]\r\nStartLine=312\r\n") << "312"
                                << QVariant(312);
        QTest::newRow("beyond 32 bits")
            << QByteArray("[GENERAL]\nStartLine=99999999999\n") << "99999999999" << QVariant();
        QTest::newRow("not text") << QByteArray("\x00\x01\xff[GEN\x00", 9) << "0" << QVariant(0);
    }
    void startLineSetting() {
        QFETCH(QByteArray, file);
        QFETCH(QVariant, drawnRow);
        TestWorkspace ws;
        writeFile(ws.path("/Settings.ini"), file);
        frmMain w;
        QVERIFY(w.Form_Load());
        QTEST(modGlobal::startLine(), "expected");
        const std::optional<int> drawn = w.dvIMG->startLine();
        QCOMPARE(drawn ? QVariant(*drawn) : QVariant(), drawnRow);
    }

    // A file where "Messungen" belongs: reported with the critical icon; the window still opens.
    void unusableWorkspace() {
        TestWorkspace ws;
        writeFile(ws.path("/Messungen"));
        MessageRecorder messages;
        frmMain w;
        QVERIFY(w.Form_Load());
        const modGlobal::Message& first = messages.messages().first();
        QCOMPARE(first.owner, &w);
        QCOMPARE(first.icon, Icon::Critical);
        QVERIFY(first.text.contains(QStringLiteral("Messungen")));
        QCOMPARE(w.cboDone->count(), 2);
    }

    // The real box, raised from a control, is a child of its window and modal
    // to it alone, so the window manager centres it there. The unsaved
    // question has German buttons, "Abbrechen" the default, and Escape
    // answers it as "Abbrechen".
    void realMessageBox() {
        QWidget w;
        w.show();
        QWidget* parent = nullptr;
        Qt::WindowModality modality = Qt::NonModal;
        QStringList buttons;
        QString defaultButton;
        QTimer::singleShot(0, &w, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                parent = box->parentWidget();
                modality = box->windowModality();
                for (const QAbstractButton* button : box->buttons())
                    buttons << button->text();
                defaultButton = box->defaultButton()->text();
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        QCOMPARE(modGlobal::MsgBox(new QPushButton(&w), QStringLiteral("Frage"), Icon::Question,
                                   modGlobal::Buttons::SaveDiscardCancel,
                                   modGlobal::Answer::Cancel),
                 modGlobal::Answer::Cancel);
        QCOMPARE(parent, &w);
        QCOMPARE(modality, Qt::WindowModal);
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"&Speichern", "&Verwerfen", "Abbrechen"}));
        QCOMPARE(defaultButton, QStringLiteral("Abbrechen"));
    }

    // Beside the executable unless that folder holds no workspace and cannot be written.
    void workspaceChoice_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("perUser");
        QTest::newRow("empty, writable") << QString() << true << false;
        QTest::newRow("empty, read-only") << QString() << false << true;
        QTest::newRow("measurements, read-only")
            << "/Messungen/Messung/Original/1.dcm" << false << false;
        QTest::newRow("bitmaps, read-only") << "/NoDCM/a.bmp" << false << false;
        QTest::newRow("settings, read-only") << "/Settings.ini" << false << false;
        QTest::newRow("other files, read-only") << "/kalvara" << false << true;
    }
    void workspaceChoice() {
        QFETCH(QString, content);
        QFETCH(bool, writable);
        QFETCH(bool, perUser);
        QTemporaryDir beside, home;
        if (!content.isEmpty()) {
            QDir().mkpath(QFileInfo(beside.path() + content).path());
            writeFile(beside.path() + content);
        }
        const QString perUserFolder = home.path() + QStringLiteral("/Kalvara/Kalvara");
        const modGlobal::WorkspaceChoice choice = modGlobal::chooseWorkspace(
            beside.path(), perUserFolder, [&](const QString&) { return writable; });
        QCOMPARE(choice.perUser, perUser);
        QCOMPARE(choice.root, perUser ? perUserFolder : beside.path());
        QCOMPARE(QFileInfo(perUserFolder).isDir(), perUser);
    }

    // The real probe: a folder whose permission bits forbid writing, even for root.
    void workspaceChoiceProbesReadOnlyFolder() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs Linux capabilities to enforce permission bits as root.");
#else
        QTemporaryDir beside, home;
        const QString perUserFolder = home.path() + QStringLiteral("/Kalvara");
        QVERIFY(
            QFile::setPermissions(beside.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        {
            PermissionBitsEnforced enforced;
            QCOMPARE(modGlobal::chooseWorkspace(beside.path(), perUserFolder).root, perUserFolder);
        }
        QDir().mkdir(beside.path() + QStringLiteral("/Messungen"));
        {
            PermissionBitsEnforced enforced;
            QCOMPARE(modGlobal::chooseWorkspace(beside.path(), perUserFolder).root, beside.path());
        }
        QFile::setPermissions(beside.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
#endif
    }

    // Real failures of the file-system service name their cause in German.
    void fileSystemCausesInGerman() {
#if !defined(Q_OS_LINUX)
        QSKIP("Needs Linux capabilities to enforce permission bits as root.");
#else
        TestWorkspace ws;
        ws.mkpath("/locked/unreadable");
        writeFile(ws.path("/locked/file.dcm"));
        writeFile(ws.path("/free.dcm"));
        const modGlobal::FileSystem& fs = modGlobal::fso();
        QFile::setPermissions(ws.path("/locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(ws.path("/locked/unreadable"), QFileDevice::WriteOwner);
        PermissionBitsEnforced enforced;
        QCOMPARE(causeOf([&] { fs.CreateFolder(ws.path("/locked/new")); }), kNoPermission);
        QCOMPARE(causeOf([&] { fs.RemoveFile(ws.path("/locked/file.dcm"), true); }), kNoPermission);
        QCOMPARE(causeOf([&] { fs.MoveFileTo(ws.path("/free.dcm"), ws.path("/locked/free.dcm")); }),
                 kNoPermission);
        QCOMPARE(causeOf([&] { fs.MoveFolder(ws.path("/locked/unreadable"), ws.path("/moved")); }),
                 kNoPermission);
        // An unreadable folder is an error, not an empty one.
        QCOMPARE(causeOf([&] { fs.Files(ws.path("/locked/unreadable")); }), kNoPermission);
        QCOMPARE(causeOf([&] { fs.SubFolders(ws.path("/locked/unreadable")); }), kNoPermission);
        QCOMPARE(causeOf([&] { core::syncFile(ws.path("/missing.dcm")); }),
                 QStringLiteral("Die Datei oder der Ordner ist nicht vorhanden."));
#endif
    }

    // Listings by name regardless of case, names equal but for case by their code units; a move
    // never replaces a file; only force deletes a read-only one.
    void fileSystemService() {
        TestWorkspace ws;
        const modGlobal::FileSystem& fs = modGlobal::fso();
        ws.mkpath("/list");
        for (const char* name : {"b.dcm", "c.DCM", "a.dcm", "A.dcm", "B2.dcm", "a2.dcm"})
            writeFile(ws.path("/list/") + QLatin1String(name));
        for (const char* name : {"zeta", "Beta", "alpha"})
            ws.mkpath("/list/" + QLatin1String(name));
        QStringList names;
        for (const modGlobal::FileEntry& entry : fs.Files(ws.path("/list")))
            names << entry.name;
        QCOMPARE(names, QStringList({"A.dcm", "a.dcm", "a2.dcm", "b.dcm", "B2.dcm", "c.DCM"}));
        QCOMPARE(fs.SubFolders(ws.path("/list")), QStringList({"alpha", "Beta", "zeta"}));

        writeFile(ws.path("/from.dcm"), "neu");
        writeFile(ws.path("/to.dcm"), "alt");
        QCOMPARE(causeOf([&] { fs.MoveFileTo(ws.path("/from.dcm"), ws.path("/to.dcm")); }),
                 QStringLiteral("Das Ziel besteht bereits."));
        QCOMPARE(readFile(ws.path("/from.dcm")), "neu");
        QCOMPARE(readFile(ws.path("/to.dcm")), "alt");

        QVERIFY(QFile::setPermissions(ws.path("/to.dcm"), QFileDevice::ReadOwner));
        QCOMPARE(causeOf([&] { fs.RemoveFile(ws.path("/to.dcm"), false); }),
                 QStringLiteral("Die Datei ist schreibgeschützt."));
        QVERIFY(QFile::exists(ws.path("/to.dcm")));
        fs.RemoveFile(ws.path("/to.dcm"), true);
        QVERIFY(!QFile::exists(ws.path("/to.dcm")));
    }

    // No English exception text reaches the operator; the program's own German ones do.
    void guardedGivesGermanCauses() {
        QCOMPARE(reportedCause([] { throw std::bad_alloc(); }),
                 QStringLiteral("Für diesen Schritt ist nicht genügend Arbeitsspeicher frei."));
        // The English text goes to the log only.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("_M_range_check")));
        QCOMPARE(reportedCause([] { (void)std::vector<int>().at(3); }),
                 QStringLiteral("Im Programm ist ein interner Fehler aufgetreten; der Schritt "
                                "wurde abgebrochen."));
        QCOMPARE(reportedCause([] {
                     throw std::filesystem::filesystem_error(
                         "copy", std::make_error_code(std::errc::no_space_on_device));
                 }),
                 QStringLiteral("Der Datenträger ist voll."));
        QCOMPARE(
            reportedCause([] { throw core::Error(QStringLiteral("Die Datei ist beschädigt.")); }),
            QStringLiteral("Die Datei ist beschädigt."));
    }

    // The lead and the icon as the step asks, the cause, then the note.
    void guardedWordsItsReport() {
        MessageRecorder messages;
        const auto fail = [] { throw core::Error(QStringLiteral("Die Datei ist gesperrt.")); };
        QVERIFY(
            !modGlobal::guarded(nullptr, QStringLiteral("Das Eintragen"), fail,
                                modGlobal::StepReport::warning(QStringLiteral("Gespeichert."))));
        QCOMPARE(messages.last().icon, Icon::Warning);
        QCOMPARE(messages.last().text, QStringLiteral("Gespeichert.\n\nDie Datei ist gesperrt."));
        QVERIFY(
            !modGlobal::guarded(nullptr, QStringLiteral("Das Löschen"), fail,
                                modGlobal::StepReport::critical(QStringLiteral("Sie bleibt."))));
        QCOMPARE(messages.last().icon, Icon::Critical);
        QCOMPARE(messages.last().text, QStringLiteral("Das Löschen ist fehlgeschlagen.\n\nDie "
                                                      "Datei ist gesperrt.\n\nSie bleibt."));
        QVERIFY(modGlobal::guarded(nullptr, QStringLiteral("Das Lesen"), [] {}));
        QCOMPARE(messages.count(), 2);
    }

    // Two copies of the program from one place (offscreen, as this test runs):
    // the second ends silently and touches nothing.
    void secondProcessEndsAtOnce() {
        QTemporaryDir dir;
        const QString exe = dir.path() + QStringLiteral("/kalvara");
        QVERIFY(QFile::copy(QStringLiteral(KALVARA_EXE), exe));
        QProcess first;
        first.start(exe, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.path() + "/NoDCM").isDir(), 20000);
        QDir(dir.path() + "/NoDCM").removeRecursively();

        QProcess second;
        second.start(exe, {});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(!QFileInfo::exists(dir.path() + "/NoDCM"));
        first.kill();
        first.waitForFinished();
    }
};

QTEST_MAIN(tst_app)
#include "tst_app.moc"
