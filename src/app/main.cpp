#include "app/frmMain.h"
#include "global/modGlobal.h"
#include "imaging/Imaging.h"

#include "core/AtomicFile.h"
#include "core/Names.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

int main(int argc, char* argv[]) {
    core::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kalvara"));
    QApplication::setOrganizationName(QStringLiteral("Kalvara"));
    imaging::initialise();
    // The workspace lives next to the executable; an installed program whose
    // folder holds none and cannot be written keeps it in the per-user folder.
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const bool perUserIsNew = !modGlobal::holdsWorkspace(perUser);
    const modGlobal::WorkspaceChoice workspace =
        modGlobal::chooseWorkspace(QCoreApplication::applicationDirPath(), perUser);
    modGlobal::setWorkspaceRoot(workspace.root);

    frmMain window;
    if (!window.Form_Load())
        return 0;
    window.show();
    if (workspace.perUser) {
        // The caption names the workspace at every start until an image is
        // shown; the message comes only when the folder is set up, so that
        // it does not interrupt every day's start.
        const QString where = QDir::toNativeSeparators(workspace.root);
        window.setWindowTitle(QStringLiteral("Kalvara \u2013 Arbeitsordner %1").arg(where));
        if (perUserIsNew)
            modGlobal::MsgBox(
                &window,
                QStringLiteral("Der Ordner des Programms kann nicht beschrieben werden. Kalvara "
                               "legt seinen Arbeitsordner (%1, %2, %3) deshalb hier an:\n\n%4")
                    .arg(core::names::kMeasurements, core::names::kWaiting,
                         core::names::kSettingsFile, where),
                modGlobal::Icon::Information);
    }
    return app.exec();
}
