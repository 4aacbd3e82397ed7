#include "DicomViewer.h"
#include "Layout.h"
#include "ListView.h"
#include "TestSupport.h"
#include "frmMain.h"
#include "modGlobal.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using modGlobal::Icon;

class tst_app : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutRule_data();
    void layoutRule();
    void layoutAppliedToWindow();
    void freshWorkspace();
    void startLineSetting_data();
    void startLineSetting();
    void unusableWorkspace_data();
    void unusableWorkspace();
    void messageBoxBelongsToWindow();
    void secondProcessEndsAtOnce();
};

void tst_app::layoutRule_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("panelLeft");
    QTest::addColumn<int>("panelHeight"); // -1: refused
    QTest::addColumn<int>("viewerWidth");
    QTest::addColumn<int>("viewerHeight");
    QTest::newRow("15000x11000") << 15000 << 11000 << 11975 << 10500 << 12105 << 10450;
    QTest::newRow("height 520") << 15000 << 520 << 11975 << 20 << 12105 << -1;
    QTest::newRow("narrower than panel") << 2000 << 11000 << -1025 << 10500 << -1 << 10450;
}

void tst_app::layoutRule() {
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(int, panelLeft);
    QFETCH(int, panelHeight);
    QFETCH(int, viewerWidth);
    QFETCH(int, viewerHeight);

    const layout::Placement p = layout::placeForWindow(w, h);
    // Refused assignments keep the previous values; the others still apply.
    layout::Rect panel{10125, 90, 2895, 12705};
    layout::Rect viewer{15, 30, 3615, 1365};
    layout::apply(p, panel, viewer);
    QCOMPARE(panel.left, panelLeft);
    QCOMPARE(panel.top, 0);
    QCOMPARE(panel.width, 2895);
    QCOMPARE(panel.height, panelHeight < 0 ? 12705 : panelHeight);
    QCOMPARE(QPoint(viewer.left, viewer.top), QPoint(0, 0));
    QCOMPARE(viewer.width, viewerWidth < 0 ? 3615 : viewerWidth);
    QCOMPARE(viewer.height, viewerHeight < 0 ? 1365 : viewerHeight);
}

void tst_app::layoutAppliedToWindow() {
    TestWorkspace ws;
    frmMain w;
    QVERIFY(w.Form_Load());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(1000, 733);
    QTRY_COMPARE(w.dvIMG->width(), w.frameGeometry().width() - 193);
    const QRect outer = w.frameGeometry();
    QCOMPARE(w.picMain->x(), (outer.width() * 15 - 2895 - 130) / 15);
    QCOMPARE(w.picMain->y(), 0);
    QCOMPARE(w.picMain->width(), 193);
    QCOMPARE(w.dvIMG->pos(), QPoint(0, 0));
    // The controls inside the panel keep their design positions.
    QCOMPARE(w.cmdSave->geometry(), QRect(12, 567, 163, 46));
    QCOMPARE(w.lblValues->geometry(), QRect(12, 675, 163, 160)); // below "Ordner archivieren"
    QCOMPARE(w.picStartLine->geometry(), QRect(0, 0, 19, 19));
}

void tst_app::freshWorkspace() {
    TestWorkspace ws;
    MessageRecorder messages;
    frmMain w;
    QVERIFY(w.Form_Load());

    QVERIFY(QFileInfo(ws.path("/Messungen")).isDir());
    QVERIFY(QFileInfo(ws.path("/NoDCM")).isDir());
    QVERIFY(!QFile::exists(ws.path("/Settings.ini")));
    QCOMPARE(modGlobal::startLine(), QStringLiteral("0"));
    QCOMPARE(messages.count(), 0);

    QCOMPARE(w.cboDone->count(), 2);
    QCOMPARE(w.cboDone->itemText(1), QStringLiteral("- Externe Bilder -"));
    QCOMPARE(w.cboDone->currentIndex(), -1);

    // The window at start: nothing shown, every command disabled.
    QCOMPARE(w.windowTitle(), QStringLiteral("Kalvara"));
    QCOMPARE(w.lvwList->headerItem()->text(0), QStringLiteral("Nr."));
    QVERIFY(w.prgBar->isHidden());
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             w.chkEdit, w.cmdEdit, w.cmdDelete, w.cmdSave, w.cmdCloseStudy})
        QVERIFY2(!button->isEnabled(), qPrintable(button->text()));
    QVERIFY(!w.txtEdit->isEnabled());
    QVERIFY(w.cmdSave->isDefault());

    // An existing "Messungen" is left as it is; only the missing folder is made.
    QDir(ws.path("/NoDCM")).removeRecursively();
    ws.mkpath("/Messungen/Messung/Original");
    frmMain again;
    QVERIFY(again.Form_Load());
    QVERIFY(QFileInfo(ws.path("/NoDCM")).isDir());
    QVERIFY(QFileInfo(ws.path("/Messungen/Messung/Original")).isDir());
}

void tst_app::startLineSetting_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QVariant>("drawnRow"); // invalid: no start line drawn
    QTest::newRow("number") << QByteArray("[GENERAL]\r\nStartLine=312\r\n") << "312"
                            << QVariant(312);
    QTest::newRow("letters kept as text")
        << QByteArray("[GENERAL]\nStartLine=abc\n") << "abc" << QVariant();
    QTest::newRow("beyond 32 bits")
        << QByteArray("[GENERAL]\nStartLine=99999999999\n") << "99999999999" << QVariant();
    QTest::newRow("not text") << QByteArray("\x00\x01\xff[GEN\x00", 9) << "0" << QVariant(0);
}

void tst_app::startLineSetting() {
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    QFETCH(QVariant, drawnRow);
    TestWorkspace ws;
    QFile f(ws.path("/Settings.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    frmMain w;
    QVERIFY(w.Form_Load());
    QCOMPARE(modGlobal::startLine(), expected);
    const std::optional<int> drawn = w.dvIMG->startLine();
    QCOMPARE(drawn ? QVariant(*drawn) : QVariant(), drawnRow);
}

void tst_app::unusableWorkspace_data() {
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("Messungen is a file") << "/Messungen";
    QTest::newRow("root missing") << "";
}

void tst_app::unusableWorkspace() {
    QFETCH(QString, obstacle);
    TestWorkspace ws;
    if (obstacle.isEmpty()) {
        modGlobal::setWorkspaceRoot(ws.path("/missing/deeper"));
    } else {
        QFile f(ws.path(obstacle));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    MessageRecorder messages;
    frmMain w;
    QVERIFY(w.Form_Load());
    // The failure is reported with the critical icon; the window still opens.
    QCOMPARE(messages.messages().first().owner, &w);
    QCOMPARE(messages.messages().first().title, QStringLiteral("Kalvara"));
    QCOMPARE(messages.messages().first().icon, Icon::Critical);
    QVERIFY(messages.messages().first().text.contains(QStringLiteral("Messungen")));
    QCOMPARE(w.cboDone->count(), 2);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

void tst_app::messageBoxBelongsToWindow() {
    // The real box, raised from a control, is a child of its window and modal
    // to it alone, so the window manager centres it there.
    TestWorkspace ws;
    frmMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QWidget* parent = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(0, &w, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        parent = box->parentWidget();
        modality = box->windowModality();
        box->done(0);
    });
    modGlobal::MsgBox(w.cmdSave, QStringLiteral("Test"), Icon::Information);
    QCOMPARE(parent, &w);
    QCOMPARE(modality, Qt::WindowModal);
}

void tst_app::secondProcessEndsAtOnce() {
    // Two copies of the program from one place: the second ends silently.
    QTemporaryDir dir;
    const QString exe = dir.path() + QStringLiteral("/kalvara");
    QVERIFY(QFile::copy(QStringLiteral(KALVARA_EXE), exe));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(exe, {});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.path() + "/NoDCM").isDir(), 20000);
    QDir(dir.path() + "/NoDCM").removeRecursively();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(exe, {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);
    // The second process touched nothing.
    QVERIFY(!QFileInfo::exists(dir.path() + "/NoDCM"));

    first.kill();
    first.waitForFinished();
}

QTEST_MAIN(tst_app)
#include "tst_app.moc"
