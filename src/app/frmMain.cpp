#include "app/frmMain.h"

#include "app/Layout.h"
#include "core/Names.h"
#include "folders/Folders.h"
#include "global/modGlobal.h"
#include "imagelist/ImageList.h"
#include "imagelist/ListView.h"
#include "imaging/DicomViewer.h"
#include "import/ImportDialog.h"
#include "record/Record.h"
#include "report/Report.h"
#include "settings/modINI.h"
#include "viewer/Viewer.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>

namespace {

QRect twips(int left, int top, int width, int height) {
    return layout::toPixels(layout::Rect{left, top, width, height});
}

// A control named for the object tree, at its place on parent.
template <class Control, class... Arguments>
Control* makeControl(QWidget* parent, const char* name, const QRect& place,
                     Arguments&&... arguments) {
    auto* control = new Control(std::forward<Arguments>(arguments)..., parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(place);
    return control;
}

int buttonSet(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

// One lock per process: a second process of the same executable is refused.
QLockFile* instanceLock() {
    static std::unique_ptr<QLockFile> lock;
    static bool acquired = false;
    if (!lock) {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (folder.isEmpty() || !QDir(folder).exists())
            folder = QDir::tempPath();
        const QByteArray id = QCryptographicHash::hash(
            QCoreApplication::applicationFilePath().toUtf8(), QCryptographicHash::Sha1);
        lock = std::make_unique<QLockFile>(folder + QStringLiteral("/kalvara-") +
                                           QString::fromLatin1(id.toHex().left(16)) +
                                           QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        acquired = lock->tryLock(0);
    }
    return acquired ? lock.get() : nullptr;
}

} // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kalvara"));
    setWindowIcon(QIcon(QStringLiteral(":/kalvara.xpm")));
    setFont(modGlobal::tahoma(11.25, true));
    // The design's client area, made smaller on a smaller screen so that the
    // whole window, with a frame of up to kFrameRoom pixels, fits on it.
    constexpr QSize kFrameRoom(16, 48);
    const QSize design(layout::toPixels(13245), layout::toPixels(13005));
    const QScreen* shownOn = screen();
    resize(shownOn ? design.boundedTo(shownOn->availableSize() - kFrameRoom) : design);
    createControls();
    createDayControls();
    wireHandlers();
    wireDayKeys();
    createReportCommand();
}

void frmMain::createControls() {
    dvIMG = makeControl<imaging::DicomViewer>(this, "dvIMG", twips(0, 0, 3615, 1365));
    picMain = makeControl<QFrame>(this, "picMain", twips(10125, 90, layout::kPanelWidth, 12705));
    // The viewer overlaps the panel's empty left margin; lying above it, the
    // viewer keeps the right edge of the image in sight and clickable.
    picMain->lower();

    picStartLine = makeControl<QFrame>(this, "picStartLine", twips(0, 0, 285, 285));
    picStartLine->setFrameShape(QFrame::Box);
    picStartLine->setAutoFillBackground(true);
    picStartLine->setToolTip(QStringLiteral("Doppelklick: Startlinie setzen"));
    picStartLine->raise();

    lblMain = makeControl<QLabel>(picMain, "lblMain", twips(180, 225, 2535, 330),
                                  QStringLiteral("Messungen:"));
    cboDone = makeControl<QComboBox>(picMain, "cboDone", twips(180, 585, 2445, 390));

    lvwList = makeControl<imagelist::ListView>(picMain, "lvwList", twips(180, 1215, 2445, 4245));
    lvwList->setColumnCount(2);
    lvwList->setHeaderLabels({QStringLiteral("Nr."), QString()});
    lvwList->header()->setStretchLastSection(false);
    lvwList->header()->setSectionsMovable(false);
    lvwList->setColumnWidth(0, layout::toPixels(1500));
    lvwList->setColumnWidth(1, layout::toPixels(600));
    lvwList->setRootIsDecorated(false);
    lvwList->setUniformRowHeights(true);
    lvwList->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwList->setFont(modGlobal::tahoma(21.75, true));
    lvwList->header()->setFont(font());

    prgBar = makeControl<QProgressBar>(picMain, "prgBar", twips(225, 1215, 2400, 330));
    prgBar->setRange(0, 100);
    prgBar->setTextVisible(false);
    prgBar->hide();

    chkEdit = makeControl<QCheckBox>(picMain, "chkEdit", twips(180, 5625, 2265, 465),
                                     QStringLiteral("Nummer ändern"));
    chkEdit->setEnabled(false);
    txtEdit = makeControl<QLineEdit>(picMain, "txtEdit", twips(180, 6075, 2445, 390));
    txtEdit->setEnabled(false);

    auto button = [this](const char* name, const QString& caption, int top) {
        auto* b = makeControl<QPushButton>(picMain, name, twips(180, top, 2445, 690), caption);
        b->setEnabled(false);
        b->setAutoDefault(false);
        return b;
    };
    cmdEdit = button("cmdEdit", QStringLiteral("Ändern"), 6570);
    cmdDelete = button("cmdDelete", QStringLiteral("Bild löschen"), 7335);
    cmdSave = button("cmdSave", QStringLiteral("Bild speichern"), 8505);
    cmdSave->setDefault(true);
    cmdCloseStudy = button("cmdCloseStudy", QStringLiteral("Ordner archivieren"), 9315);
    session::setTag(cmdCloseStudy, QString());

    lblValues = makeControl<QLabel>(picMain, "lblValues", twips(180, 10125, 2445, 2400));
    lblValues->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblValues->setWordWrap(true);

    // Focus order of the controls that take the focus.
    setTabOrder(lvwList, cmdSave);
    setTabOrder(cmdSave, cmdCloseStudy);
    setTabOrder(cmdCloseStudy, chkEdit);
    setTabOrder(chkEdit, txtEdit);
    setTabOrder(txtEdit, cmdEdit);
    setTabOrder(cmdEdit, cboDone);
    setTabOrder(cboDone, cmdDelete);
}

std::function<void()> frmMain::run(void (*handler)(session::Session&, const session::Controls&)) {
    return [this, handler] { handler(session, controls()); };
}

void frmMain::wireHandlers() {
    connect(cboDone, &QComboBox::activated, this, [this] { cboDone_Click(); });
    lvwList->viewport()->installEventFilter(this);
    // A click on a column's header sorts by it, numbers by value, and turns
    // the direction; the next load keeps that direction.
    lvwList->header()->setSectionsClickable(true);
    connect(lvwList->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { imagelist::SortListViewColumn(column, lvwList); });
    picStartLine->installEventFilter(this);
    connect(dvIMG, &imaging::DicomViewer::viewerMouseEvent, this,
            [this](int buttons, int shift, int x, int y) {
                viewer::dvIMG_MouseEvent(session, controls(), buttons, shift, x, y);
            });
    dvIMG->setGuideSource([this](QPoint pixel) {
        return viewer::measurementGuide(session, controls(), pixel.x(), pixel.y());
    });
    // Anywhere in the window; a focused text field keeps these keys for itself.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this), &QShortcut::activated, this,
            run(viewer::undoMeasurement));
    auto* redo = new QShortcut(this);
    redo->setKeys(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    connect(redo, &QShortcut::activated, this, run(viewer::redoMeasurement));
    connect(dvIMG, &imaging::DicomViewer::imagesChanged, this, [this] {
        const imaging::ImageCollection& images = dvIMG->images();
        lblValues->setText(images.count() > 0 ? viewer::measurementSummary(images.item(1).labels())
                                              : QString());
    });
    connect(cmdSave, &QPushButton::clicked, this, run(viewer::cmdSave_Click));
    connect(chkEdit, &QCheckBox::clicked, this, run(viewer::chkEdit_Click));
    // Renumbering shows the image anew: what is not yet saved is asked for first.
    connect(cmdEdit, &QPushButton::clicked, this, [this] {
        if (viewer::confirmLeaving(session, controls()))
            viewer::cmdEdit_Click(session, controls());
    });
    connect(cmdDelete, &QPushButton::clicked, this, run(viewer::cmdDelete_Click));
    connect(cmdCloseStudy, &QPushButton::clicked, this, [this] {
        if (!viewer::confirmLeaving(session, controls()))
            return;
        if (folders::cmdCloseStudy_Click(session, controls()))
            viewer::disableImageCommands(session, controls());
    });
}

void frmMain::createReportCommand() {
    // Beside "Messungen:", over the label's empty right part: the report is of
    // the folder chosen below it, and every place under the commands lies
    // beyond the bottom of a 1366 x 768 screen.
    cmdReport = makeControl<QPushButton>(picMain, "cmdReport", twips(1575, 195, 1050, 375),
                                         QStringLiteral("Bericht"));
    cmdReport->setFont(modGlobal::tahoma(9, false));
    cmdReport->setToolTip(QStringLiteral(
        "Bericht erstellen: Bericht_<Datum>.pdf und Messwerte.xlsx im gewählten Ordner"));
    cmdReport->setAutoDefault(false);
    cmdReport->setEnabled(false);
    openDocument = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    connect(cmdReport, &QPushButton::clicked, this, [this] { cmdReport_Click(); });
    // A folder choice, and every change of the list's measured rows: a save by
    // button, Enter, F9 or the unsaved question, a renumbering, a deletion, an
    // archiving.
    connect(cboDone, &QComboBox::activated, this, [this] { updateReportCommand(); });
    connect(lvwList, &imagelist::ListView::countsChanged, this, [this] { updateReportCommand(); });
    connect(cmdCloseStudy, &QPushButton::clicked, this, [this] { updateReportCommand(); });
}

// A report needs a current folder with a record or measured copies.
void frmMain::updateReportCommand() {
    const QString folder = session.currentFolder;
    const QDir measured(folder + QLatin1Char('/') + core::names::kMeasured);
    cmdReport->setEnabled(!folder.isEmpty() &&
                          (QFileInfo::exists(record::recordFile(folder)) ||
                           !measured.entryList(QDir::Files | QDir::Hidden).isEmpty()));
}

void frmMain::cmdReport_Click() {
    const QString folder = session.currentFolder;
    cmdReport->setEnabled(false);
    // The bar stands above the list while the thumbnails render; paint
    // events pass, the operator's input waits.
    prgBar->show();
    prgBar->raise();
    prgBar->setRange(0, 1);
    prgBar->setValue(0);
    report::Files files;
    const bool written =
        modGlobal::guarded(this, QStringLiteral("Das Erstellen des Berichts"), [&] {
            files = report::writeReport(folder, [this](int done, int total) {
                prgBar->setMaximum(total);
                prgBar->setValue(done);
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            });
        });
    prgBar->hide();
    updateReportCommand();
    if (written && openDocument)
        openDocument(QUrl::fromLocalFile(files.pdf));
}

session::Controls frmMain::controls() {
    return {this,    cboDone, lvwList,   prgBar,  dvIMG,        txtEdit,
            chkEdit, cmdEdit, cmdDelete, cmdSave, cmdCloseStudy};
}

bool frmMain::Form_Load() {
    if (!instanceLock())
        return false;
    const QString root = modGlobal::workspaceRoot();
    modGlobal::setStartLine(
        modINI::ReadIniValue(core::names::kSection, core::names::kStartLineKey, QStringLiteral("0"),
                             root + QLatin1Char('/') + core::names::kSettingsFile, 256));
    viewer::showStartLine(session, controls());
    for (const QString& folder : {core::names::kMeasurements, core::names::kWaiting}) {
        const QString path = modGlobal::workspaceRoot() + QLatin1Char('/') + folder;
        if (!modGlobal::fso().FolderExists(path))
            modGlobal::guarded(this, QStringLiteral("Das Anlegen des Arbeitsordners"),
                               [&] { modGlobal::fso().CreateFolder(path); });
    }
    viewer::completeInterruptedWork(this);
    CheckDoneFolders();
    return true;
}

bool frmMain::LoadImageList() {
    return imagelist::LoadImageList(session, controls());
}

void frmMain::CheckDoneFolders() {
    modGlobal::guarded(this, QStringLiteral("Das Einlesen der Messungen"),
                       [this] { folders::CheckDoneFolders(session, controls()); });
}

void frmMain::cboDone_Click() {
    if (!leaveForFolderChoice())
        return;
    const QString entry = cboDone->currentText();
    if (entry == folders::kCurrentEntry) {
        // Commands of an image shown before must not act in the new folder.
        viewer::disableImageCommands(session, controls());
        session.currentFolder = folders::currentFolderPath();
        // Rows of another folder must not stay beside a current folder
        // that does not exist.
        if (!modGlobal::fso().FolderExists(session.currentFolder))
            lvwList->clear();
        // A load superseded by a newer choice leaves the button to that one.
        if (LoadImageList() && lvwList->topLevelItemCount() > 0)
            cmdCloseStudy->setEnabled(true);
    } else if (entry == folders::kExternalEntry) {
        importer::openImportDialog(
            session, controls(),
            [this](session::Session&, const session::Controls&) { CheckDoneFolders(); },
            viewer::disableImageCommands);
    } else {
        viewer::disableImageCommands(session, controls());
        cmdCloseStudy->setEnabled(false);
        lvwList->clear();
        session.currentFolder = folders::folderPathForEntry(entry);
        LoadImageList();
    }
}

void frmMain::Form_Resize() {
    const QSize outer = frameGeometry().size();
    m_laidOutFor = outer;
    const layout::Placement p =
        layout::placeForWindow(layout::toTwips(outer.width()), layout::toTwips(outer.height()),
                               layout::toTwips(picMain->width()));
    layout::Rect panel = layout::toTwips(picMain->geometry());
    layout::Rect view = layout::toTwips(dvIMG->geometry());
    layout::apply(p, panel, view);
    picMain->setGeometry(layout::toPixels(panel));
    dvIMG->setGeometry(layout::toPixels(view));
    picStartLine->raise();
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmMain::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // A window manager adds its frame after the first resize, without a
    // resize of its own; the move that comes with the frame brings the
    // outer size the layout rule needs.
    if (frameGeometry().size() != m_laidOutFor)
        Form_Resize();
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    // Enter saves while the default button is enabled, unless another
    // button has the focus, which then takes the key itself.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
            focused && focused->isEnabled()) {
            focused->click();
            return;
        }
        if (cmdSave->isEnabled()) {
            cmdSave->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvwList->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const int button = buttonSet(static_cast<QMouseEvent*>(event)->button());
        // A release beside the rows chooses no image and so leaves none.
        if (button != 0 &&
            (lvwList->selectedItems().isEmpty() || viewer::confirmLeaving(session, controls()))) {
            showKeyStatus({});
            viewer::lvwList_MouseUp(session, controls(), button);
        }
    } else if (watched == picStartLine && event->type() == QEvent::MouseButtonDblClick) {
        viewer::picStartLine_DblClick(session, controls());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

namespace {

const QString kKeyHint =
    QStringLiteral("F7 / F8: voriges / nächstes Bild\nF9: speichern und weiter");

} // namespace

void frmMain::createDayControls() {
    // Both in gaps the fixed places of the panel leave: between the selector
    // and the list, and between "Bild löschen" and "Bild speichern".
    lblProgress = makeControl<QLabel>(picMain, "lblProgress", twips(180, 990, 2445, 225));
    lblProgress->setFont(modGlobal::tahoma(8.25, true));
    lblKeys = makeControl<QLabel>(picMain, "lblKeys", twips(180, 8040, 2445, 450));
    lblKeys->setFont(modGlobal::tahoma(8.25, false));
    lblKeys->setWordWrap(true);
    lblKeys->setText(kKeyHint);
    cmdSave->setToolTip(QStringLiteral("Speichert das gemessene Bild (Enter).\nF9: speichern und "
                                       "das nächste ungemessene Bild zeigen"));
    lvwList->setToolTip(QStringLiteral("Linke Maustaste: Bild zeigen, rechte: gemessene Kopie\n") +
                        kKeyHint);
}

void frmMain::wireDayKeys() {
    // With Shift too: it may still be held from measuring with the loupe.
    const auto key = [this](Qt::Key k, const std::function<void()>& action) {
        for (const QKeySequence& sequence : {QKeySequence(k), QKeySequence(Qt::SHIFT | k)}) {
            auto* shortcut = new QShortcut(sequence, this);
            shortcut->setContext(Qt::WindowShortcut);
            connect(shortcut, &QShortcut::activated, this, action);
        }
    };
    key(kPreviousKey, [this] { showNeighbour(-1); });
    key(kNextKey, [this] { showNeighbour(1); });
    key(kSaveAndNextKey, [this] { saveAndShowNext(); });
    connect(lvwList, &QTreeWidget::itemSelectionChanged, this,
            [this] { viewer::lvwList_SelectionChanged(session, controls()); });
    connect(lvwList, &imagelist::ListView::countsChanged, this, [this](int measured, int rows) {
        lblProgress->setText(rows > 0 ? QStringLiteral("%1 von %2 gemessen").arg(measured).arg(rows)
                                      : QString());
    });
    connect(cboDone, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_folderIndexBefore = m_folderIndex;
        m_folderIndex = index;
        m_folderIndexChanged = true;
    });
}

void frmMain::showKeyStatus(const QString& text) {
    lblKeys->setText(text.isEmpty() ? kKeyHint : text);
}

void frmMain::goToRow(QTreeWidgetItem* row) {
    if (!viewer::confirmLeaving(session, controls()))
        return;
    showKeyStatus({});
    viewer::showRow(session, controls(), row);
}

void frmMain::showNeighbour(int step) {
    QTreeWidgetItem* row = viewer::neighbourRow(controls(), step);
    if (!row) {
        showKeyStatus(lvwList->topLevelItemCount() == 0 ? QStringLiteral("Die Liste ist leer.")
                      : step > 0 ? QStringLiteral("Das letzte Bild der Liste.")
                                 : QStringLiteral("Das erste Bild der Liste."));
        return;
    }
    goToRow(row);
}

void frmMain::saveAndShowNext() {
    // Without an image to save (none shown, or the selection moved away
    // from it) the key only moves on; the question guards what is unsaved.
    if (cmdSave->isEnabled() && !viewer::saveShownImage(session, controls()))
        return;
    QTreeWidgetItem* row = viewer::nextUnmeasuredRow(controls());
    if (!row) {
        const QTreeWidgetItem* current = lvwList->currentItem();
        showKeyStatus(
            current
                ? QStringLiteral("Nach Nr. %1 kein ungemessenes Bild mehr.").arg(current->text(0))
                : QStringLiteral("Kein ungemessenes Bild in der Liste."));
        return;
    }
    goToRow(row);
}

bool frmMain::leaveForFolderChoice() {
    const int before = m_folderIndexChanged ? m_folderIndexBefore : cboDone->currentIndex();
    if (viewer::confirmLeaving(session, controls())) {
        m_folderIndexChanged = false;
        return true;
    }
    cboDone->setCurrentIndex(before);
    m_folderIndexChanged = false;
    return false;
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (viewer::confirmLeaving(session, controls()))
        QWidget::closeEvent(event);
    else
        event->ignore();
}
