#include "ViewerState.h"
#include "modGlobal.h"

#include <QFile>
#include <QFileInfo>

namespace viewer {

using namespace state;

bool isPlainFileName(const QString& name) {
    for (const QChar ch : name) {
        if (ch == QLatin1Char('/') || ch == QLatin1Char('\\') || ch == QLatin1Char(':') ||
            ch.unicode() < 0x20)
            return false;
    }
    return true;
}

void cmdSave_Click(const Controls& c) {
    const QString operation = QStringLiteral("Das Speichern des Bildes");
    const imaging::ImageCollection& images = c.dvIMG->images();
    if (images.count() == 0)
        return;
    // The mark goes to the row of the image saved, wherever the selection
    // has moved since; any other row would claim a copy that does not exist.
    QTreeWidgetItem* row = rowOfShownFile(c);
    const bool saved = modGlobal::guarded(c.form, operation, [&] {
        const imaging::Image& image = images.item(1);
        const QString number = image.imageNumber();
        if (!isPlainFileName(number))
            throw std::runtime_error(
                QStringLiteral("Die Bildnummer \u201E%1\u201C enthält ein Zeichen, das in "
                               "Dateinamen nicht erlaubt ist.")
                    .arg(number)
                    .toStdString());
        const QString folder = measuredFolder(c);
        if (!modGlobal::fso().FolderExists(folder))
            modGlobal::fso().CreateFolder(folder);
        const QString file = folder + QLatin1Char('/') + number + QStringLiteral(".dcm");
        // A read-only copy is replaced as well; the write renames over it,
        // which some file systems refuse for a read-only target.
        const QFileInfo existing(file);
        if (existing.isFile() && !existing.isWritable())
            QFile::setPermissions(file, existing.permissions() | QFileDevice::WriteOwner |
                                            QFileDevice::WriteUser);
        // The previous copy stays until the new one is completely written.
        image.saveImage(true).write(file, true);
    });
    if (saved && row)
        row->setText(1, QStringLiteral("X"));
}

} // namespace viewer
