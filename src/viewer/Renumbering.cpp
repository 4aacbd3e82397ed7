#include "ViewerState.h"
#include "modGlobal.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace viewer {

using namespace state;

void chkEdit_Click(const Controls& c) {
    const bool on = c.chkEdit->isChecked();
    c.txtEdit->setEnabled(on);
    c.cmdEdit->setEnabled(on);
}

void cmdEdit_Click(const Controls& c) {
    const QString operation = QStringLiteral("Das Ändern der Bildnummer");
    QTreeWidgetItem* row = selectedRow(c);
    if (!row)
        return;
    const QString oldFile = imagelist::ListView::tag(row);
    const QString number = c.txtEdit->text();

    // The unmeasured image comes from the row's file, never from the viewer,
    // which may show a measured copy or carry unsaved measurements.
    QString newFile;
    const bool written = modGlobal::guarded(c.form, operation, [&] {
        imaging::ImageCollection source;
        source.readFile(oldFile);
        imaging::Image& image = source.item(1);
        image.setPatientName(number + QLatin1Char('^') + number);
        image.setImageNumber(number);
        image.setImageUid(imaging::UidGenerator().newUid());
        newFile = originalFolder(c) + QLatin1Char('/') + image.imageUid() + QStringLiteral(".dcm");
        image.write(newFile, true);
    });
    if (!written)
        return;

    const bool replaced = modGlobal::guarded(c.form, operation, [&] {
        try {
            modGlobal::fso().DeleteFile(oldFile, true);
        } catch (...) {
            // Undo the new file so the image is not in Original twice. Should
            // that fail too, both stay and the next list load shows both.
            try {
                modGlobal::fso().DeleteFile(newFile, true);
            } catch (const modGlobal::FileSystemError&) {
            }
            throw;
        }
    });
    if (!replaced)
        return;

    row->setText(0, number);
    imagelist::ListView::setTag(row, newFile);
    row->setText(1, QStringLiteral("-"));

    if (!modGlobal::guarded(c.form, QStringLiteral("Das Anzeigen des Bildes"),
                            [&] { showUnmeasuredFile(c, newFile); }))
        disableImageCommands(c);
    c.chkEdit->setChecked(false);
    chkEdit_Click(c);
}

} // namespace viewer
