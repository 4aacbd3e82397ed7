#pragma once

#include "global/Session.h"

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidgetItem;

namespace imaging {
class DicomViewer;
}
namespace imagelist {
class ListView;
}

// The main window: the viewer on the left, the panel with the folder
// selector, the image list and the commands on the right.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);

    // Start-up. Returns false when another instance already runs; the
    // caller then ends at once without showing anything.
    bool Form_Load();
    // Rebuilds the folder selector; failures are reported, never thrown.
    void CheckDoneFolders();
    // False when a newer load superseded this one before it finished.
    bool LoadImageList();

    // Handlers, public so the benchmark and tests can drive them as the
    // operator would.
    void cboDone_Click();
    void Form_Resize();

    // The controls every handler works on.
    session::Controls controls();

    // The state the handlers share: current folder, shown file, list loads,
    // selector rebuilds.
    session::Session session;

    imaging::DicomViewer* dvIMG = nullptr;
    QFrame* picStartLine = nullptr;
    QFrame* picMain = nullptr;
    QLabel* lblMain = nullptr;
    QComboBox* cboDone = nullptr;
    imagelist::ListView* lvwList = nullptr;
    QProgressBar* prgBar = nullptr;
    QCheckBox* chkEdit = nullptr;
    QLineEdit* txtEdit = nullptr;
    QPushButton* cmdEdit = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCloseStudy = nullptr;
    // Writes the day's report of the current folder.
    QPushButton* cmdReport = nullptr;
    // The lengths measured on the shown image, below the commands.
    QLabel* lblValues = nullptr;
    // "12 von 40 gemessen" for the current folder, above the list.
    QLabel* lblProgress = nullptr;
    // The keys of the day's work, or what the last key found, above cmdSave.
    QLabel* lblKeys = nullptr;

    // The keys: previous and next row's image, save and show the next
    // unmeasured one. Function keys, so that neither the list's own keys
    // (arrows, pages, Home/End, letters) nor Enter, Tab or typing collide.
    static constexpr Qt::Key kPreviousKey = Qt::Key_F7;
    static constexpr Qt::Key kNextKey = Qt::Key_F8;
    static constexpr Qt::Key kSaveAndNextKey = Qt::Key_F9;

    // Opens a written report in the system's viewer; tests and the benchmark
    // put something else here.
    std::function<void(const QUrl&)> openDocument;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void wireHandlers();
    // The day's controls: progress and keys.
    void createDayControls();
    void wireDayKeys();
    // Asks before leaving unsaved measurements, then shows row's image.
    void goToRow(QTreeWidgetItem* row);
    // Shows the image of the row step rows from the current one.
    void showNeighbour(int step);
    // Saves as cmdSave does, then shows the next row without a measured copy.
    void saveAndShowNext();
    // What the keys found, in lblKeys; an empty text brings the keys back.
    void showKeyStatus(const QString& text);
    // Asks before a folder choice leaves the shown image; on "Abbrechen" the
    // selector shows its entry from before the choice again.
    bool leaveForFolderChoice();
    // The report command: its button below the commands and what enables it.
    void createReportCommand();
    void updateReportCommand();
    void cmdReport_Click();
    // A slot that runs handler on the session and the controls.
    std::function<void()> run(void (*handler)(session::Session&, const session::Controls&));
    // The outer size the layout was last made for.
    QSize m_laidOutFor;
    // cboDone's index and the one before it, and whether it changed since
    // the last choice, so that a cancelled choice can be put back.
    int m_folderIndex = -1;
    int m_folderIndexBefore = -1;
    bool m_folderIndexChanged = false;
};
