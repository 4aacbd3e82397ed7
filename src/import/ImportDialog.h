#pragma once

#include "modGlobal.h"

#include <QDialog>
#include <QList>

#include <array>
#include <functional>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace imaging {
class DicomViewer;
}

// The import of bitmaps from the workspace's "NoDCM" folder into dated
// measurement folders. ("import" is a contextual keyword, hence "importer".)
namespace importer {

// Opens frmNoDCM modally over owner, centred on it, and returns when it has
// closed (and after the empty-folder message, which comes after the dialog is
// gone). checkDoneFolders rebuilds the main window's folder selector (called
// when the dialog closes); previewShown is called whenever a preview is put
// into dvIMG (which may be null: then nothing is previewed).
void openImportDialog(QWidget* owner, imaging::DicomViewer* dvIMG,
                      std::function<void()> checkDoneFolders, std::function<void()> previewShown);

// The import dialog: presents the files of "NoDCM" one by one in the main
// window's viewer and converts each into a DICOM image on "Importieren".
// Constructing it loads the file list and starts the one-shot timer that
// presents the first file once the event loop runs.
class frmNoDCM : public QDialog {
    Q_OBJECT
public:
    frmNoDCM(QWidget* owner, imaging::DicomViewer* dvIMG, std::function<void()> checkDoneFolders,
             std::function<void()> previewShown);

    // Presents the file at the current position; a file that cannot be read
    // as a bitmap is reported and skipped, and the dialog closes when no file
    // is left.
    void ImportImage();

    // Closing, whatever the cause, runs the unload steps once.
    void done(int result) override;

    QLabel* lblInfo = nullptr;
    QLabel* lblFileName = nullptr;
    // Captions "Kuhnummer:", "Studiendatum:", "Dateiname:", "Pixelspacing:".
    std::array<QLabel*, 4> lblNoDCM{};
    QLineEdit* txtPixelSpacing = nullptr;
    QDateEdit* dtpStudyDate = nullptr;
    QLineEdit* txtNumber = nullptr;
    // The default button; its "Tag" property holds the current bitmap path.
    QPushButton* cmdImport = nullptr;
    QTimer* tmrWork = nullptr;

private:
    void createControls();
    void Form_Load();
    void tmrWork_Timer();
    void cmdImport_Click();
    void Form_Unload();
    // Moves on to the next file, or closes after the last.
    void advance();

    imaging::DicomViewer* m_viewer;
    std::function<void()> m_checkDoneFolders;
    std::function<void()> m_previewShown;

    // The files directly in "NoDCM" when the dialog loaded; the count is
    // their number, so the two always agree.
    QList<modGlobal::FileEntry> m_files;
    qsizetype m_position = 0; // 1-based
    // Why the folder could not be listed; reported when the run would start.
    QString m_loadFailure;
    bool m_studyDateSet = false;
    bool m_unloaded = false;
};

} // namespace importer
