#pragma once

#include "global/Session.h"
#include "global/modGlobal.h"

#include <QDialog>
#include <QList>

#include <array>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The import of bitmaps from the workspace's "NoDCM" folder into dated
// measurement folders. ("import" is a contextual keyword, hence "importer".)
namespace importer {

// Opens frmNoDCM modally over the main window c.form, centred on it, and
// returns when it has closed (and after the empty-folder message, which comes
// after the dialog is gone). closed is run when the dialog closes (the window
// rebuilds its folder selector); previewShown whenever a preview is put into
// c.dvIMG (which may be null: then nothing is previewed). Either may be empty.
void openImportDialog(session::Session& s, const session::Controls& c, session::Handler closed,
                      session::Handler previewShown);

// The import dialog: presents the files of "NoDCM" one by one in the main
// window's viewer and converts each into a DICOM image on "Importieren".
// Constructing it loads the file list and starts the one-shot timer that
// presents the first file once the event loop runs.
class frmNoDCM : public QDialog {
    Q_OBJECT
public:
    frmNoDCM(session::Session& s, const session::Controls& c, session::Handler closed,
             session::Handler previewShown);

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
    // The default button; its Tag holds the current bitmap path.
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

    session::Session& m_session;
    const session::Controls m_controls;
    session::Handler m_closed;
    session::Handler m_previewShown;

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
