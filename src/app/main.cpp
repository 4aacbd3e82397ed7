#include "Durable.h"
#include "Imaging.h"
#include "frmMain.h"
#include "modGlobal.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// The workspace lives next to the executable; an installed program whose
// folder cannot be written keeps it in the per-user data folder instead.
QString chooseWorkspaceRoot() {
    const QString besideExecutable = QCoreApplication::applicationDirPath();
    QTemporaryFile probe(besideExecutable + QStringLiteral("/.kalvara-write-test-XXXXXX"));
    if (probe.open())
        return besideExecutable;
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(perUser);
    return perUser;
}

} // namespace

int main(int argc, char* argv[]) {
    durable::ignoreFileSizeSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kalvara"));
    QApplication::setOrganizationName(QStringLiteral("Kalvara"));
    imaging::initialise();
    modGlobal::setWorkspaceRoot(chooseWorkspaceRoot());

    frmMain window;
    if (!window.Form_Load())
        return 0;
    window.show();
    return app.exec();
}
